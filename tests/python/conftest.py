import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("QUILLON_BUILD", ROOT / "build" / "dev"))
# Tests import the freshly built package tree, not an installed copy.
sys.path.insert(0, str(BUILD / "python"))
sys.path.insert(0, str(ROOT / "tests" / "python"))
