"""The package as pip installs it: the module, its configuration directory,
the console script and python -m quillon."""
import os
import shutil
import subprocess
import sys

from quillon import quillon


def test_module_offers_exactly_the_program_names():
    public = {name for name in vars(quillon) if not name.startswith("__")}
    assert public == {"pp", "get_norvane_cid", "filter_results", "norvane_api", "get_default_config_dir", "main"}
    assert quillon.pp._width == 200
    assert "site-packages" in quillon.__file__


def test_default_config_dir_is_installed_beside_the_module():
    config_dir = quillon.get_default_config_dir()
    assert config_dir == os.path.join(os.path.dirname(quillon.__file__), "config")
    assert any(name.endswith(".cfg") for name in os.listdir(config_dir))


def test_console_script_and_module_entry_show_help():
    script = shutil.which("quillon")
    assert script is not None
    for cmd in ([script, "--help"], [sys.executable, "-m", "quillon", "--help"]):
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        assert "Quillon Automation" in done.stdout and "--controller_ip CONTROLLER_IP" in done.stdout
