import sys

from quillon.quillon import main

# The usage line names the program as it was started, not as "__main__.py".
sys.argv[0] = "python -m quillon"
main()
