"""Runs the end-to-end cases of the console under Wine: each function named
case_* in the case modules gets a name and runs on its own; a failure keeps
a screenshot and the transcript in build/gui-artifacts/. Ends with the line
"N passed, N failed". Arguments: names of cases to run (default all)."""
import sys
import traceback

import console_cases
from harness import Failure

cases = [(n[5:], f) for n, f in vars(console_cases).items() if n.startswith("case_")]
wanted = set(sys.argv[1:])
passed = failed = 0
for name, case in cases:
    if wanted and name not in wanted:
        continue
    try:
        case(name)
        passed += 1
        print(f"ok   {name}", flush=True)
    except Failure as e:
        failed += 1
        print(f"FAIL {name}: {e}", flush=True)
    except Exception:
        failed += 1
        print(f"FAIL {name}:\n{traceback.format_exc()}", flush=True)
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
