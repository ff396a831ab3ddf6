"""The damaged-package campaign: packages built by veltra-pack (plain, with a
password, split into volumes, with the package's own cabinet library and the
system's disabled), each damaged by one seeded mutation and run unattended.
A run fails on a hang, a crash, a leftover private folder, or exit 0 with
any installed file wrong.

VELTRA_CAMPAIGN_SEED replays a campaign (the seed is printed);
VELTRA_CAMPAIGN_RUNS asks for more runs than the one of every class that the
normal test run makes (e.g. 2000)."""
import collections
import os
import random
import sys
import unittest

import damage
import e2e

# Stub faults not fixed yet: (variant or "*", mutation class, how it fails).
# Each must still fail in the campaign, so that an entry goes when its fix lands.
EXPECTED_FAULTS = {
}


@unittest.skipUnless(os.environ.get("VELTRA_CAMPAIGN") or os.environ.get("VELTRA_CAMPAIGN_RUNS"),
                     "set VELTRA_CAMPAIGN=1: the stub faults it finds are not yet listed in EXPECTED_FAULTS")
class DamagedPackageCampaign(e2e.E2ETestCase):
    def test_campaign(self):
        seed = int(os.environ.get("VELTRA_CAMPAIGN_SEED") or random.SystemRandom().randrange(1 << 31))
        runs = int(os.environ.get("VELTRA_CAMPAIGN_RUNS") or 0)
        print("campaign seed %d (replay with VELTRA_CAMPAIGN_SEED=%d)" % (seed, seed), file=sys.stderr)
        rng = random.Random(seed)
        cablib = os.environ.get("VELTRA_CABINET_DLL")
        built = {}
        for variant in damage.VARIANTS:
            if variant == "library" and not cablib:
                continue
            built[variant] = self.tmp / ("built-" + variant)
            damage.build_variant(built[variant], variant, cablib if variant == "library" else None)
        chosen = damage.draw(built, rng, runs)
        damage.disable_crash_dialog(True)
        failures = collections.defaultdict(list)
        tally = collections.Counter()
        try:
            for number, mutation in enumerate(chosen, 1):
                scratch = damage.fresh_copy(built[mutation.variant], self.tmp / "run")
                mutation.apply(scratch)
                overrides = damage.VARIANTS[mutation.variant][2]
                outcome = damage.run_once(self.driver, scratch / "Setup.exe", overrides)
                tally["runs"] += 1
                for fault in outcome.faults:
                    tally[fault] += 1
                line = "%4d %s -> %s" % (number, mutation, outcome)
                print(line, file=sys.stderr, flush=True)
                if outcome.faults:
                    failures[(mutation.variant, mutation.cls)].append(line)
        finally:
            damage.disable_crash_dialog(False)
        print("summary (seed %d): %s" % (seed, dict(tally)), file=sys.stderr)
        for (variant, cls), lines in sorted(failures.items()):
            print("FAILING CLASS %s / %s: %d run(s)" % (variant, cls, len(lines)), file=sys.stderr)

        unexpected = [line for (variant, cls), lines in failures.items()
                      if (variant, cls) not in EXPECTED_FAULTS and ("*", cls) not in EXPECTED_FAULTS
                      for line in lines]
        self.assertEqual([], unexpected, "seed %d" % seed)
        tried = {(m.variant, m.cls) for m in chosen}
        failing = set(failures) | {("*", cls) for (_, cls) in failures}
        fixed = [key for key in EXPECTED_FAULTS if key in tried or (key[0] == "*" and any(c == key[1] for _, c in tried))
                 if key not in failing]
        self.assertEqual([], fixed, "expected faults that no longer fail (remove them): seed %d" % seed)


if __name__ == "__main__":
    unittest.main(verbosity=2)
