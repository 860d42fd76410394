"""The original four options keep the host's help lines and abbreviations."""
import os

import pytest

from e2e import FRONT_ENDS, GATEWAYS, SECRET, run, secret_args, write_files


def _original_help_lines(columns):
    """The help lines of -h and the original four options, as the host lays them out."""
    import argparse
    os.environ["COLUMNS"] = str(columns)
    try:
        parser = argparse.ArgumentParser(prog="quillon")
        parser.add_argument("--controller_ip", help="Norvane Controller IP. User will be prompted to enter the IP "
                                                    "if not specified.")
        parser.add_argument("--username", help='Norvane Controller Username. Defaults to "admin" if not specified.')
        parser.add_argument("--password", help="Norvane Controller Password. User will be prompted to enter the "
                                               "password if not specfied.")
        parser.add_argument("--config_dir", help='Configuration Directory. Defaults to "config" if not specified.')
        text = parser.format_help()
    finally:
        del os.environ["COLUMNS"]
    return text[text.index("  -h, --help"):]


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_original_options_keep_their_abbreviations_and_help_lines(sim, tmp_path, front_end):
    for columns in (80, 200):
        shown = run(front_end, ["--help"], env={"COLUMNS": str(columns)}).stdout.decode()
        assert _original_help_lines(columns) in shown, shown
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    expected = run(front_end, secret_args(sim, tmp_path))
    assert expected.returncode == 0
    for names in (["--cont", "--user", "--pass", "--conf"], ["--contr", "--usern", "--passw", "--confi"],
                  ["--controller_i", "--username", "--p", "--config_d"]):
        got = run(front_end, [names[0], sim.address, names[1], "admin", names[2] + "=" + SECRET, names[3],
                              str(tmp_path)])
        assert (got.returncode, got.stdout, got.stderr) == (0, expected.stdout, b""), names
