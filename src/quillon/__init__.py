"""Quillon Automation: checks a Norvane Controller. The program is quillon.quillon."""
