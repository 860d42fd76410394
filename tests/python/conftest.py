import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("QUILLON_BUILD", ROOT / "build" / "dev"))
# Tests import the freshly built package tree, not an installed copy.
sys.path.insert(0, str(BUILD / "python"))
sys.path.insert(0, str(ROOT / "tests" / "python"))

# --- simulated controller ------------------------------------------------------
import pytest  # noqa: E402

sys.path.insert(0, str(ROOT / "tools"))
from sim_controller import SimController  # noqa: E402

SIM_USERS = {"admin": "Secr3t pass&=+%", "operator": "op", "guest": ""}


@pytest.fixture
def sim():
    """A fresh simulated controller per test; it stops when the test ends."""
    with SimController(users=SIM_USERS, lifetime=120) as controller:
        yield controller


def sim_login(controller, username="admin"):
    """A CID from the simulated controller, fetched with the host's own client."""
    import warnings

    import requests

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        answer = requests.post(controller.url, data={"action": "login", "username": username,
                                                     "password": SIM_USERS[username]}, verify=False)
    return answer.json()["CID"]
