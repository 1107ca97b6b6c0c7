"""A throwaway Windows platform: a Wine prefix on a private X display, for
the end-to-end tests and the demo. Its parts, each in a module of its own:
- prefix.py: the prefix and its runs (Xvfb, the boot, each start held to its
  limits and noted, the traced runs of the program under test);
- devices.py: the simulated devices, and what the sandbox helper reads of
  them and of the platform's records;
- stand_ins.py: the answers of Windows that Wine does not give, played by the
  newdev stand-in, each with its reason;
- traces.py: the install calls read from Wine's traces, and what a run
  showed;
- sample.py: the example driver package, laid out for a run;
- setup_runs.py: the runs of the setups that the templates make.
"""

from devices import Devices
from prefix import Prefix


class Sandbox(Prefix, Devices):
    """One prefix, its devices and its runs."""
