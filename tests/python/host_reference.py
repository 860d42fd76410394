"""The whole program written with the Python host's own stack (requests,
configparser, pprint), as the tests' oracle for end-to-end runs. It differs
from the program only where the program deliberately does: a refused login
ends with status 1."""
import configparser
import os
import pprint
import sys
import warnings

pp = pprint.PrettyPrinter(width=200)


def post(url, data):
    import requests  # here, so that the benchmark's host stack can share filter_results cheaply

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return requests.post(url, data=data, verify=False)


def get_norvane_cid(controller_ip, username, password):
    url = "https://" + controller_ip + "/v1/api"
    r = post(url, {"action": "login", "username": username, "password": password})
    try:
        return r.json()["CID"]
    except Exception:
        print("Login failed")
        sys.exit(1)


def filter_results(results, filters):
    for i, expression in enumerate(filters):
        keys = [k.strip() for k in expression.split("&")]
        if isinstance(results, list):
            if len(keys) > 1:
                results = [{k: (r[k] if k in r else "FILTER_NOT_FOUND") if isinstance(r, dict) else r[k]
                            for k in keys} for r in results]
            else:
                results = [r[keys[0]] for r in results]
        elif isinstance(results, dict):
            if len(keys) > 1:
                results = {k: results.get(k, "FILTER_NOT_FOUND") for k in keys}
            else:
                results = results.get(expression, "FILTER_NOT_FOUND")
        else:
            return None
    return results


def norvane_api(controller_ip, username, password, config_dir, config_file):
    url = "https://" + controller_ip + "/v1/api"
    config = configparser.ConfigParser()
    with open(config_file) as f:
        config.read_file(f)
    rdata = {"CID": get_norvane_cid(controller_ip, username, password)}
    try:
        filters = [f.strip() for f in config.get("default", "filters").split(",")]
    except configparser.Error:
        filters = []
    compound = None
    for option in config.options("norvane"):
        value = rdata[option] = config.get("norvane", option)
        if value.startswith("output(") and value.endswith(")"):
            compound = (option, os.path.join(config_dir, value[7:-1]))

    def query():
        return post(url, rdata).json()

    if compound is None:
        return filter_results(query(), filters)
    results = norvane_api(controller_ip, username, password, config_dir, compound[1])
    out = []
    for element in results:
        rdata[compound[0]] = element
        out.append({"object": element, "results": filter_results(query(), filters)})
    return out


def walk(controller_ip, username, password, config_dir):
    get_norvane_cid(controller_ip, username, password)
    for file in os.listdir(config_dir):
        if not file.endswith(".cfg"):
            continue
        filepath = os.path.join(config_dir, file)
        config = configparser.ConfigParser()
        with open(filepath) as f:
            config.read_file(f)
        try:
            print(config.get("default", "description"))
        except Exception:
            pass
        pp.pprint(norvane_api(controller_ip, username, password, config_dir, filepath))
        print("\n")


if __name__ == "__main__":
    walk(*sys.argv[1:5])
