"""The simulated controller's invented estate, and the read-only actions that answer from it."""

import copy

ACCOUNTS = [
    {"account_name": "ops-main", "account_id": "100200300400", "cloud_type": 1, "owner": "netops"},
    {"account_name": "lab-sandbox", "account_id": "500600700800", "cloud_type": 4, "owner": "lab"},
]

VPCS = [
    {"vpc_id": "vpc-0a1", "name": "east-core", "account_name": "ops-main", "region": "east-1",
     "cidr": "10.1.0.0/16", "subnets": ["10.1.0.0/24", "10.1.1.0/24"]},
    {"vpc_id": "vpc-0b2", "name": "west-edge", "account_name": "ops-main", "region": "west-2",
     "cidr": "10.2.0.0/16", "subnets": ["10.2.0.0/24"]},
    {"vpc_id": "vpc-0c3", "name": "lab-net", "account_name": "lab-sandbox", "region": "east-1",
     "cidr": "172.20.0.0/20", "subnets": []},
]

GATEWAYS = [
    {"gw_name": "gw-east-1", "vpc_id": "vpc-0a1", "account_name": "ops-main", "cloud_type": 1,
     "public_ip": "198.51.100.10", "private_ip": "10.1.0.10", "state": "up", "ha_enabled": True,
     "size": {"cpu": 2, "memory_gb": 4}, "tags": ["prod", "core"], "uptime_hours": 1234.5,
     "peer": None},
    {"gw_name": "gw-east-2", "vpc_id": "vpc-0a1", "account_name": "ops-main", "cloud_type": 1,
     "public_ip": "198.51.100.11", "private_ip": "10.1.1.10", "state": "up", "ha_enabled": True,
     "size": {"cpu": 2, "memory_gb": 4}, "tags": ["prod", "core"], "uptime_hours": 1234.25,
     "peer": "gw-east-1"},
    {"gw_name": "gw-west-1", "vpc_id": "vpc-0b2", "account_name": "ops-main", "cloud_type": 1,
     "public_ip": "203.0.113.20", "private_ip": "10.2.0.10", "state": "down", "ha_enabled": False,
     "size": {"cpu": 4, "memory_gb": 16}, "tags": ["prod", "edge"], "uptime_hours": 0.0,
     "peer": None},
    {"gw_name": "gw-lab-1", "vpc_id": "vpc-0c3", "account_name": "lab-sandbox", "cloud_type": 4,
     "public_ip": "192.0.2.30", "private_ip": "172.20.0.5", "state": "up", "ha_enabled": False,
     "size": {"cpu": 1, "memory_gb": 2}, "tags": [], "uptime_hours": 17.75, "peer": None},
]

GATEWAY_DETAILS = {
    "gw-east-1": {"software_version": "7.2.1", "interfaces": [
        {"name": "eth0", "ip": "10.1.0.10", "mtu": 1500}, {"name": "eth1", "ip": "10.1.0.11", "mtu": 9001}],
        "routes": [{"cidr": "0.0.0.0/0", "next_hop": "igw"}, {"cidr": "10.2.0.0/16", "next_hop": "gw-west-1"}]},
    "gw-east-2": {"software_version": "7.2.1", "interfaces": [
        {"name": "eth0", "ip": "10.1.1.10", "mtu": 1500}],
        "routes": [{"cidr": "0.0.0.0/0", "next_hop": "igw"}]},
    "gw-west-1": {"software_version": "7.1.9", "interfaces": [
        {"name": "eth0", "ip": "10.2.0.10", "mtu": 1500}],
        "routes": [{"cidr": "10.1.0.0/16", "next_hop": "gw-east-1"}]},
    "gw-lab-1": {"software_version": "7.3.0-beta", "interfaces": [],
                 "routes": []},
}


def ok(results):
    return {"return": True, "results": results}


def fail(reason):
    return {"return": False, "reason": reason}


def field_values(fields, name):
    return [v for n, v in fields if n == name]


def _filter_by(rows, fields, name):
    wanted = field_values(fields, name)
    return [r for r in rows if r[name] in wanted] if wanted else rows


def _list_accounts(fields):
    return ok(copy.deepcopy(ACCOUNTS))


def _list_vpcs(fields):
    return ok(copy.deepcopy(_filter_by(VPCS, fields, "account_name")))


def _show(rows, fields, key, what, details):
    """The rows named by `key` with their details, or the first name not found."""
    names = field_values(fields, key)
    if not names:
        return fail(f"missing {key}")
    found = []
    for name in names:
        row = next((r for r in rows if r[key] == name), None)
        if row is None:
            return fail(f"{what} {name} not found")
        found.append(dict(copy.deepcopy(row), **details(name)))
    return ok(found[0] if len(found) == 1 else found)


def _show_vpc(fields):
    return _show(VPCS, fields, "vpc_id", "VPC",
                 lambda vpc_id: {"gateways": [g["gw_name"] for g in GATEWAYS if g["vpc_id"] == vpc_id]})


def _list_gateways(fields):
    rows = _filter_by(_filter_by(GATEWAYS, fields, "vpc_id"), fields, "account_name")
    return ok(copy.deepcopy(rows))


def _list_gateway_names(fields):
    return ok([g["gw_name"] for g in _filter_by(GATEWAYS, fields, "vpc_id")])


def _show_gateway(fields):
    return _show(GATEWAYS, fields, "gw_name", "gateway", lambda name: copy.deepcopy(GATEWAY_DETAILS[name]))


def _echo(fields):
    # The form as received, for checking what a client put on the wire.
    return ok({"fields": [[n, v] for n, v in fields]})


ACTIONS = {
    "list_accounts": _list_accounts,
    "list_vpcs": _list_vpcs,
    "show_vpc": _show_vpc,
    "list_gateways": _list_gateways,
    "list_gateway_names": _list_gateway_names,
    "show_gateway": _show_gateway,
    "echo": _echo,
}
