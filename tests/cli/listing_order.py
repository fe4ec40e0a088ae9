"""Whether a file system lists a directory in the order its entries were
made: the end-to-end tests and tools/readme-examples predict listings by it."""

import os
import shutil
import tempfile


def probe_order(base):
    """'created' or 'reversed' when base lists a directory in the order its
    entries were made (or the reverse), else None."""
    probe = tempfile.mkdtemp(prefix="trawl-order-", dir=base)
    try:
        names = ["m", "c", "x", "a", "q", "b"]
        for name in names:
            open(os.path.join(probe, name), "w").close()
        listed = os.listdir(probe)
        if listed == names:
            return "created"
        if listed == names[::-1]:
            return "reversed"
        return None
    finally:
        shutil.rmtree(probe)
