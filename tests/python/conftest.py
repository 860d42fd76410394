import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("QUILLON_BUILD", ROOT / "build" / "dev"))
# Tests import the freshly built package tree, not an installed copy.
sys.path.insert(0, str(BUILD / "python"))
sys.path.insert(0, str(ROOT / "tests" / "python"))

# --- hypothesis ----------------------------------------------------------------
# One profile per speed. The default keeps pytest within minutes: the shared
# strategies lean on edge cases, so a modest count still reaches them in every
# run. QUILLON_LONG=1 (make fuzz-long) runs each test far deeper.
from hypothesis import HealthCheck, settings  # noqa: E402

LONG = os.environ.get("QUILLON_LONG") == "1"
_SLOW_STRATEGIES = [HealthCheck.too_slow, HealthCheck.data_too_large]
settings.register_profile("quick", max_examples=100, deadline=None, suppress_health_check=_SLOW_STRATEGIES)
settings.register_profile("long", max_examples=5000, deadline=None, suppress_health_check=_SLOW_STRATEGIES)
settings.load_profile("long" if LONG else "quick")

# --- simulated controller ------------------------------------------------------
import pytest  # noqa: E402

sys.path.insert(0, str(ROOT / "tools"))
from sim_controller import SimController  # noqa: E402

# Runs started in the background (e2e.start).
STARTED = []


@pytest.fixture(autouse=True)
def _no_run_left_behind():
    """A test that fails before its run ends leaves no process waiting (on a FIFO, say) for ever."""
    yield
    while STARTED:
        process = STARTED.pop()
        if process.poll() is None:
            process.kill()
            process.communicate(timeout=10)


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
