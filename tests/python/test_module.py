import quorix


def test_version_and_all():
    assert quorix.__version__ == "0.0.7"
    assert quorix.__all__[0] == "__version__"


def test_import_twice_gives_the_same_module():
    import importlib

    again = importlib.import_module("quorix")
    assert again is quorix
