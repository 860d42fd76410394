"""norvane_api against the simulated controller: what goes on the wire and
what comes back, checked against the host's own stack where it can be."""
import configparser
import os

import pytest

import host_reference
from conftest import SIM_USERS
from e2e import write_files
from quillon import quillon

PASSWORD = SIM_USERS["admin"]


def api(sim, config_dir, name):
    return quillon.norvane_api(sim.address, "admin", PASSWORD, str(config_dir), os.path.join(str(config_dir), name))


def reference(sim, config_dir, name):
    return host_reference.norvane_api(sim.address, "admin", PASSWORD, str(config_dir),
                                      os.path.join(str(config_dir), name))


def queries(sim):
    return [r for r in sim.requests if r["action"] != "login"]


REF = "[default]\nfilters = results\n[norvane]\naction = ref\n"


def script_reference(sim, results, count=2):
    """The referenced file's answer (action "ref"), for the program and the reference run."""
    sim.script({"return": True, "results": results}, action="ref", count=count)


class TestForm:
    def test_fields_in_order_with_cid_first_and_defaults_last(self, sim, tmp_path):
        write_files(tmp_path, {"q.cfg": "[DEFAULT]\nshared = d\n[default]\n[norvane]\nAction = echo\nItem_Name = x\ncid = mine\n"})
        result = api(sim, tmp_path, "q.cfg")
        cid = sim.cids[-1]
        sent = [(n, v) for n, v in queries(sim)[0]["fields"]]
        assert sent == [("CID", cid), ("action", "echo"), ("item_name", "x"), ("cid", "mine"), ("shared", "d")]
        assert result == {"return": True, "results": {"fields": [list(f) for f in sent]}}

    def test_empty_section_sends_cid_alone(self, sim, tmp_path):
        write_files(tmp_path, {"q.cfg": "[norvane]\n"})
        result = api(sim, tmp_path, "q.cfg")
        assert queries(sim)[0]["fields"] == [("CID", sim.cids[-1])]
        assert result == {"return": False, "reason": "unknown action: None"}

    def test_percent_escapes_and_reserved_characters_reach_the_controller(self, sim, tmp_path):
        write_files(tmp_path, {"q.cfg": "[norvane]\naction = echo\nv = 100%% a&b=c+d é €\n"})
        api(sim, tmp_path, "q.cfg")
        assert queries(sim)[0]["fields"][-1] == ("v", "100% a&b=c+d é €")


class TestFilters:
    @pytest.mark.parametrize("filters", [None, "", "results", "results, gw_name & state", "results,", "reason",
                                         "100%bad"])
    def test_filters_like_the_host(self, sim, tmp_path, filters):
        default = "" if filters is None else f"[default]\nfilters = {filters}\n"
        write_files(tmp_path, {"q.cfg": default + "[norvane]\naction = list_gateways\n"})
        try:
            expected = reference(sim, tmp_path, "q.cfg")
        except KeyError as e:
            with pytest.raises(KeyError) as got:
                api(sim, tmp_path, "q.cfg")
            assert got.value.args == e.args
        else:
            assert api(sim, tmp_path, "q.cfg") == expected

    def test_missing_norvane_section_fails_after_login(self, sim, tmp_path):
        write_files(tmp_path, {"q.cfg": "[default]\ndescription = x\n"})
        with pytest.raises(configparser.NoSectionError):
            api(sim, tmp_path, "q.cfg")
        assert sim.actions() == ["login"]

    def test_unreadable_file_fails_before_login(self, sim, tmp_path):
        write_files(tmp_path, {"q.cfg": "[norvane]\naction = x\n[norvane]\n"})
        with pytest.raises(configparser.DuplicateSectionError):
            api(sim, tmp_path, "q.cfg")
        with pytest.raises(FileNotFoundError):
            api(sim, tmp_path, "missing.cfg")
        (tmp_path / "bad.cfg").write_bytes(b"[norvane]\naction = \xff\n")
        with pytest.raises(UnicodeDecodeError) as bad:
            api(sim, tmp_path, "bad.cfg")
        assert (bad.value.start, bad.value.end, bad.value.reason) == (19, 20, "invalid start byte")
        assert sim.requests == []

    def test_bad_percent_in_a_field_fails(self, sim, tmp_path):
        write_files(tmp_path, {"q.cfg": "[norvane]\naction = 5% off\n"})
        with pytest.raises(configparser.InterpolationSyntaxError):
            api(sim, tmp_path, "q.cfg")


class TestCompound:
    def test_one_request_per_element_with_the_field_in_place(self, sim, tmp_path):
        write_files(tmp_path, {"names.list": REF, "q.cfg": "[default]\nfilters = results, gw_name\n"
                               "[norvane]\naction = show_gateway\ngw_name = output(names.list)\nafter = z\n"})
        script_reference(sim, ["gw-east-1", "gw-west-1"], count=1)
        result = api(sim, tmp_path, "q.cfg")
        assert result == [{"object": "gw-east-1", "results": "gw-east-1"}, {"object": "gw-west-1", "results": "gw-west-1"}]
        assert list(result[0]) == ["object", "results"]
        logins = [r for r in sim.requests if r["action"] == "login"]
        assert len(logins) == 2
        item_requests = [r for r in sim.requests if r["action"] == "show_gateway"]
        outer_cid = item_requests[0]["fields"][0][1]
        assert [r["fields"] for r in item_requests] == [
            [("CID", outer_cid), ("action", "show_gateway"), ("gw_name", name), ("after", "z")]
            for name in ("gw-east-1", "gw-west-1")]
        nested = [r for r in sim.requests if r["action"] == "ref"][0]
        assert nested["fields"][0][1] != outer_cid

    @pytest.mark.parametrize("results", [
        [], ["a", None, 1, 2.5, True, -0.0, 10**30], {"k1": 1, "k2": 2}, "héllo",
        [{"b": 1, "a": [1, None]}, [1, [2, None], {"x": None}], []],
    ])
    def test_elements_of_every_kind_match_the_host(self, sim, tmp_path, results):
        write_files(tmp_path, {"names.list": REF, "q.cfg": "[norvane]\naction = echo\nitem = output(names.list)\n"})
        script_reference(sim, results, count=2)
        expected = reference(sim, tmp_path, "q.cfg")
        expected_wire = [r["body"] for r in queries(sim) if r["action"] == "echo"]
        del sim.requests[:]
        got = api(sim, tmp_path, "q.cfg")
        got_wire = [r["body"] for r in queries(sim) if r["action"] == "echo"]

        def without_cids(value):
            # Each run logs in anew, so CIDs differ; everything else must match.
            for entry in value:
                entry["results"]["results"]["fields"] = [f for f in entry["results"]["results"]["fields"] if f[0] != "CID"]
            return value
        assert without_cids(got) == without_cids(expected)
        strip = lambda bodies: [b"&".join(p for p in body.split(b"&") if not p.startswith(b"CID=")) for body in bodies]
        assert strip(got_wire) == strip(expected_wire)

    @pytest.mark.parametrize("results, error", [(5, TypeError), (None, TypeError), (True, TypeError)])
    def test_scalars_cannot_be_iterated(self, sim, tmp_path, results, error):
        write_files(tmp_path, {"names.list": REF, "q.cfg": "[norvane]\naction = echo\nitem = output(names.list)\n"})
        script_reference(sim, results, count=1)
        with pytest.raises(error):
            api(sim, tmp_path, "q.cfg")
        assert "echo" not in sim.actions()

    def test_last_compound_field_wins(self, sim, tmp_path):
        write_files(tmp_path, {"names.list": REF, "q.cfg": "[norvane]\naction = echo\nfirst = output(other.list)\n"
                               "second = output(names.list)\n"})
        script_reference(sim, ["x"], count=1)
        api(sim, tmp_path, "q.cfg")
        fields = [r for r in queries(sim) if r["action"] == "echo"][0]["fields"]
        assert fields[1:] == [("action", "echo"), ("first", "output(other.list)"), ("second", "x")]

    def test_nested_compound_sends_object_and_results(self, sim, tmp_path):
        write_files(tmp_path, {
            "names.list": REF,
            "middle.list": "[default]\nfilters = results\n[norvane]\naction = mid\nn = output(names.list)\n",
            "q.cfg": "[norvane]\naction = echo\nitem = output(middle.list)\n"})
        script_reference(sim, ["a"], count=1)
        sim.script({"return": True, "results": 7}, action="mid")
        result = api(sim, tmp_path, "q.cfg")
        assert [e["object"] for e in result] == [{"object": "a", "results": 7}]
        echo = [r for r in queries(sim) if r["action"] == "echo"][0]
        assert echo["fields"][-2:] == [("item", "object"), ("item", "results")]

    def test_subdirectories_absolute_paths_and_empty_names(self, sim, tmp_path):
        write_files(tmp_path, {"sub/names.list": REF,
                               "rel.cfg": "[norvane]\naction = echo\nitem = output(sub/names.list)\n",
                               "abs.cfg": f"[norvane]\naction = echo\nitem = output({tmp_path}/sub/names.list)\n",
                               "empty.cfg": "[norvane]\naction = echo\nitem = output()\n"})
        script_reference(sim, ["r"], count=2)
        assert [e["object"] for e in api(sim, tmp_path, "rel.cfg")] == ["r"]
        assert [e["object"] for e in api(sim, tmp_path, "abs.cfg")] == ["r"]
        with pytest.raises(IsADirectoryError):
            api(sim, tmp_path, "empty.cfg")

    def test_cycles_stop_before_logging_in_again(self, sim, tmp_path):
        write_files(tmp_path, {"a.cfg": "[norvane]\naction = echo\nx = output(b.list)\n",
                               "b.list": "[norvane]\naction = echo\nx = output(../" + tmp_path.name + "/a.cfg)\n"})
        with pytest.raises(RecursionError) as error:
            api(sim, tmp_path, "a.cfg")
        assert "a.cfg" in str(error.value) and "b.list" in str(error.value)
        assert sim.actions() == ["login", "login"]
        os.symlink(tmp_path / "c.cfg", tmp_path / "link.list")
        write_files(tmp_path, {"c.cfg": "[norvane]\naction = echo\nx = output(link.list)\n"})
        with pytest.raises(RecursionError):
            api(sim, tmp_path, "c.cfg")


@pytest.mark.parametrize("body", [b"<html>bad gateway</html>", b"", '{"\u00e9\u20ac\U0001f600": x}'.encode(),
                                  b'{"results": 1} garbage', b'{"results":\n  [1,\n   2] ]', b'["a\tb"]'])
def test_an_answer_that_is_not_json_raises_what_the_host_client_raises(sim, tmp_path, body):
    # Caught as OSError or as json.JSONDecodeError, with the host's message,
    # position in characters and the answer as its document; our context is a note.
    import json
    write_files(tmp_path, {"q.cfg": "[norvane]\naction = echo\n"})
    sim.script(body, status=502, action="echo", count=2)
    with pytest.raises(OSError) as ours:
        api(sim, tmp_path, "q.cfg")
    with pytest.raises(OSError) as host:
        reference(sim, tmp_path, "q.cfg")
    for error in (ours.value, host.value):
        assert isinstance(error, json.JSONDecodeError)
    seen = [(e.msg, e.args, str(e), e.pos, e.lineno, e.colno, e.doc) for e in (ours.value, host.value)]
    assert seen[0] == seen[1]
    assert ours.value.__notes__ == ["q.cfg: the answer of https://%s/v1/api (HTTP 502) is not JSON" % sim.address]
