"""The module as the host sees it: its names, the printer, the default
configuration directory read from __file__ at call time, argument checks."""
import io
import os
import pprint

import pytest

from quillon import quillon


def test_loading_creates_the_printer_and_the_five_functions_only():
    names = {n for n in vars(quillon) if not n.startswith("__")}
    assert names == {"pp", "get_norvane_cid", "filter_results", "norvane_api", "get_default_config_dir", "main"}
    assert isinstance(quillon.pp, pprint.PrettyPrinter) and quillon.pp._width == 200


@pytest.fixture
def module_file(monkeypatch):
    """Points the module's __file__ elsewhere, as a host may, and restores it."""
    def set_to(path):
        monkeypatch.setattr(quillon, "__file__", path)
    return set_to


def test_default_config_dir_follows_file_at_call_time(tmp_path, module_file, monkeypatch):
    (tmp_path / "pkg" / "config").mkdir(parents=True)
    module_file(str(tmp_path / "pkg" / "quillon.so"))
    assert quillon.get_default_config_dir() == str(tmp_path / "pkg" / "config")

    (tmp_path / "other").mkdir()
    (tmp_path / "other" / "config").write_text("a file, not a directory")
    module_file(str(tmp_path / "other" / "quillon.so"))
    with pytest.raises(FileNotFoundError) as error:
        quillon.get_default_config_dir()
    assert str(error.value) == "Default config directory not found: " + str(tmp_path / "other" / "config")
    assert error.value.args == ("Default config directory not found: " + str(tmp_path / "other" / "config"),)

    monkeypatch.chdir(tmp_path / "pkg")
    module_file("quillon.so")
    assert quillon.get_default_config_dir() == "config"


def test_missing_default_dir_ends_main_after_the_prompts_before_login(sim, module_file, monkeypatch, capsys):
    module_file("/nonexistent/quillon.so")
    monkeypatch.setattr("sys.argv", ["quillon", "--password", "x"])
    monkeypatch.setattr("sys.stdin", io.StringIO(sim.address + "\n"))
    with pytest.raises(FileNotFoundError):
        quillon.main()
    assert capsys.readouterr().out == "Enter Norvane Controller IP: "
    assert sim.requests == []


def test_password_prompt_uses_getpass(sim, tmp_path, monkeypatch, capsys):
    from conftest import SIM_USERS
    asked = []

    def fake_getpass(prompt="Password: ", stream=None):
        asked.append(prompt)
        return SIM_USERS["admin"]
    monkeypatch.setattr("getpass.getpass", fake_getpass)
    monkeypatch.setattr("sys.argv", ["quillon", "--controller_ip", sim.address, "--password", "",
                                     "--config_dir", str(tmp_path)])
    quillon.main()
    assert asked == ["Enter Norvane Controller Password: "]
    assert sim.requests[0]["fields"][1:] == [("username", "admin"), ("password", SIM_USERS["admin"])]


def test_results_go_to_the_printers_stream_and_descriptions_to_stdout(sim, tmp_path, monkeypatch, capsys):
    from conftest import SIM_USERS
    (tmp_path / "a.cfg").write_text("[default]\ndescription = d\nfilters = return\n[norvane]\naction = list_accounts\n")
    stream = io.StringIO()
    monkeypatch.setattr(quillon.pp, "_stream", stream)
    monkeypatch.setattr("sys.argv", ["quillon", "--controller_ip", sim.address, "--password", SIM_USERS["admin"],
                                     "--config_dir", str(tmp_path)])
    quillon.main()
    assert capsys.readouterr().out == "d\n\n\n"
    assert stream.getvalue() == "True\n"


# Host functions with the module's signatures: wrong calls must be refused in their words.
HOST_SIGNATURES = {
    "norvane_api": lambda controller_ip, username, password, config_dir, config_file: None,
    "get_norvane_cid": lambda controller_ip, username, password: None,
    "filter_results": lambda results, filters: None,
    "get_default_config_dir": lambda: None,
    "main": lambda: None,
}


@pytest.mark.parametrize("name, args, kwargs", [
    ("norvane_api", ("a", "b", "c", "d"), {}),
    ("norvane_api", ("a", "b", "c", "d", "e", "f"), {}),
    ("norvane_api", (), {}),
    ("norvane_api", ("a",), {"controller_ip": "x"}),
    ("norvane_api", ("a", "b", "c", "d", "e"), {"bogus": 1}),
    ("get_norvane_cid", ("a", "b"), {}),
    ("get_norvane_cid", (), {"password": "p"}),
    ("filter_results", ([],), {}),
    ("get_default_config_dir", (1,), {}),
    ("main", (1,), {}),
    ("main", (1, 2), {}),
    ("main", (), {"x": 1}),
])
def test_wrong_calls_are_refused_in_the_hosts_words(name, args, kwargs):
    with pytest.raises(TypeError) as expected:
        HOST_SIGNATURES[name](*args, **kwargs)
    with pytest.raises(TypeError) as refused:
        getattr(quillon, name)(*args, **kwargs)
    assert str(refused.value) == str(expected.value).replace("<lambda>", name)


def test_paths_may_be_any_path_like(sim, tmp_path):
    import pathlib
    from conftest import SIM_USERS
    (tmp_path / "q.cfg").write_text("[default]\nfilters = return\n[norvane]\naction = list_accounts\n")
    for config_dir, config_file in [(tmp_path, tmp_path / "q.cfg"), (str(tmp_path).encode(), b"%s/q.cfg" % str(tmp_path).encode())]:
        assert quillon.norvane_api(sim.address, "admin", SIM_USERS["admin"], config_dir, config_file) is True
    with pytest.raises(FileNotFoundError) as missing:
        quillon.norvane_api(sim.address, "admin", SIM_USERS["admin"], tmp_path, pathlib.Path("/nonexistent\udcff.cfg"))
    assert missing.value.filename == "/nonexistent\udcff.cfg"


def test_functions_take_their_arguments_by_name(sim, tmp_path):
    from conftest import SIM_USERS
    (tmp_path / "q.cfg").write_text("[default]\nfilters = return\n[norvane]\naction = list_accounts\n")
    assert quillon.norvane_api(config_file=str(tmp_path / "q.cfg"), config_dir=str(tmp_path), password=SIM_USERS["admin"],
                               username="admin", controller_ip=sim.address) is True
    assert quillon.filter_results(filters=["a"], results={"a": 1}) == 1


@pytest.mark.parametrize("text", ["é" * 70000, "\U0001F600" * 40000, ("a" + "€" * 3) * 30000],
                         ids=["two-byte", "four-byte", "mixed"])
def test_large_non_ascii_results_reach_the_stream_whole(sim, tmp_path, monkeypatch, capsys, text):
    # Results are written in chunks; characters split between two chunks must arrive whole.
    from conftest import SIM_USERS
    (tmp_path / "a.cfg").write_text("[default]\nfilters = results\n[norvane]\naction = big\n")
    sim.script({"results": [text, {"k": text}]}, action="big")
    stream = io.StringIO()
    monkeypatch.setattr(quillon.pp, "_stream", stream)
    monkeypatch.setattr("sys.argv", ["quillon", "--controller_ip", sim.address, "--password", SIM_USERS["admin"],
                                     "--config_dir", str(tmp_path)])
    quillon.main()
    assert stream.getvalue() == pprint.PrettyPrinter(width=200).pformat([text, {"k": text}]) + "\n"
