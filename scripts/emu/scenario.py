"""Running a table of cases: "ok: ..." per passing case, "FAIL: ..." with
the reason per failing one, exit status 1 when any failed."""
import sys
import traceback

from .pe import Failure


class Check:
    """Collects the failed expectations of one case."""

    def __init__(self):
        self.failed = []

    def __call__(self, what, passed, detail=''):
        if not passed:
            self.failed.append(f'{what} {detail}'.rstrip())
        return passed

    def equal(self, what, got, expected):
        return self(what, got == expected, f'(got {got!r}, expected {expected!r})')


def run(cases, body):
    """Runs body(case, check) for each case (a dict with a 'name')."""
    failures = 0
    for case in cases:
        check = Check()
        try:
            body(case, check)
        except Failure as e:
            check.failed.append(str(e))
        except Exception:  # a fault of the scenario itself
            check.failed.append(traceback.format_exc())
        if check.failed:
            failures += 1
            for f in check.failed:
                print(f'FAIL: {case["name"]}: {f}')
        else:
            print(f'ok: {case["name"]}')
    return failures


def finish(failures):
    sys.exit(1 if failures else 0)
