import pytest

import quorix

HAVE_HOOKS = hasattr(quorix, "_probe_shared")
needs_hooks = pytest.mark.skipif(not HAVE_HOOKS, reason="module built without test hooks")


def sanitized(smiles):
    """A molecule read from SMILES and sanitised."""
    m = quorix.parse_smiles(smiles)
    m.sanitize()
    return m


def make_mol(atoms, bonds=()):
    """A molecule built record by record (test builds only)."""
    return quorix._make_mol(list(atoms), list(bonds))
