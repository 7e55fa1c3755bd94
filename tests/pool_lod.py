"""A level-of-detail view, an instance of its registered class, for the hostile sweep."""


def objects(proxy):
    import _quelbo_twin as twin  # beside the module, found through the proxy's build folder

    return [twin.lod_view(-1, 3)]
