"""wine_clocks.judge against made-up leads: which clock written follows, and when the readers'
clock for a Wine host does not."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_clocks import judge  # noqa: E402

RAW, MONO, BOOT = "CLOCK_MONOTONIC_RAW", "CLOCK_MONOTONIC", "CLOCK_BOOTTIME"


class Judge(unittest.TestCase):
    def test_table(self):
        for name, raw, others, best, wrong in [
                ("as measured", [0, 1, 6], [252, 258], RAW, None),
                ("stamped ahead, within the slack", [-100, 5], [152, 160], RAW, None),
                ("stamped ahead, past the slack", [-101, 5], [151, 160], RAW, "behind"),
                ("written follows the other clocks", [-252, -250], [0, 2], MONO, "behind"),
                ("the others closer by the slack", [252, 255], [152, 153], MONO, "closer"),
                ("the others closer, but not by the slack", [252, 255], [153, 154], MONO, None),
                ("the closest, but a second off", [1000, 1001], [1252, 1253], RAW, "ahead"),
                ("the closest, just under a second off", [999, 1001], [1252, 1253], RAW, None)]:
            with self.subTest(name):
                got, why = judge({MONO: others, RAW: raw, BOOT: others})
                self.assertEqual(got, best)
                self.assertEqual(why is None, wrong is None, why)
                if wrong:
                    self.assertIn(wrong, why)


if __name__ == "__main__":
    unittest.main()
