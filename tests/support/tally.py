"""The tally of the Python-driven checks: each check compares what a run
gave with what was expected and prints the failures; the last line of a
check program is "N passed, N failed".

    from tally import tally
    tally.check('name', got, expected)
    tally.run(main)        # a crash of main counts as a failure; exits 0 or 1
"""
import sys


class Tally:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name, got, expected):
        if got == expected:
            self.passed += 1
        else:
            self.failed += 1
            print(f'FAIL {name}: got {got!r}, expected {expected!r}')

    def attempt(self, main):
        """Runs main from a clean count; a broken run is a failure, not a crash of the check."""
        self.passed = self.failed = 0
        try:
            main()
        except Exception as e:
            self.failed += 1
            print(f'FAIL {type(e).__name__}: {e}')

    def run(self, main, rounds=1):
        """Runs main up to rounds times, until a round has no failure; prints the
        summary line and exits."""
        for attempt in range(rounds):
            if attempt:
                print('-- once more')
            self.attempt(main)
            if not self.failed:
                break
        print(f'{self.passed} passed, {self.failed} failed')
        sys.exit(1 if self.failed else 0)


tally = Tally()


def unquoted(molded):
    """A molded string's text: a long one is molded in braces."""
    if molded and molded[0] + molded[-1] in ('""', '{}'):
        return molded[1:-1]
    return molded
