"""Writer objects made outside the module (a recording test writer of the
second module): calls in and out of order, options, texts, argument rules
and lifetimes."""
import gc

import pytest

from proxy import QuelboError, cls, q
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

create = q.VariantDataValueFactory_create


def test_calls_reach_the_writer_and_order_is_its_own():
    w = twin.recording_writer()
    assert type(w).__name__ == "Writer"
    assert q.Writer_write_all(w) is None
    for fn in (q.Writer_write_init, q.Writer_write_data, q.Writer_write_data, q.Writer_write_finish):
        assert fn(w) is None
    assert twin.writer_log(w) == ["writeAll", "writeInit", "writeData", "writeData", "writeFinish"]
    for wrong in (q.Writer_write_data, q.Writer_write_finish):
        with pytest.raises(QuelboError, match=r"called out of order \(idle\)"):
            wrong(w)
    q.Writer_write_init(w)
    for wrong in (q.Writer_write_all, q.Writer_write_init, q.Writer_write_finish):
        with pytest.raises(QuelboError, match=r"out of order \(after writeInit\)"):
            wrong(w)
    assert twin.writer_log(w)[-1] == "writeInit"


def test_texts():
    w = twin.recording_writer()
    assert q.Writer_name(w) == "RecordingWriter"
    assert q.Writer_version(w) == "1.2"
    assert q.Writer_to_string(w) == "Writer(name: RecordingWriter, version: 1.2)"
    assert q.Writer_write_all.__doc__ == "Output all the data."
    assert q.Writer_write_data.__doc__ == "Output the data. Should be called between writeInit() and writeFinish()."
    assert q.Writer_set_option.__doc__ == (
        "\nSet an option value to writer\n\n:type parameter: string\n"
        ":param parameter: name of parameter whose value must be set\n:type data: :py:class:`VariantDataValue`\n"
        ":param data: value to set for the given parameter. Must be built with MetadataValue factory\n\n"
        ":raises: Error if parameter is not known or given data is not valid\n")
    assert q.delete_Writer.__doc__ is None


def test_options():
    w = twin.recording_writer()
    assert q.Writer_set_option(w, "compression", create(5)) is None
    q.Writer_set_option(w, "comment", create("née"))
    q.Writer_set_option(w, "quality", None)
    assert twin.writer_log(w) == ["set compression = 5", 'set comment = "née"', "clear quality"]
    for name, value, text in [("colour", create(1), "unknown option 'colour'"),
                              ("compression", create(12), "is not 0 to 9"),
                              ("compression", create(1.5), "takes one"),
                              ("comment", create(["a", "b"]), "takes one")]:
        with pytest.raises(QuelboError, match=text):
            q.Writer_set_option(w, name, value)
    assert len(twin.writer_log(w)) == 3


def test_argument_rules():
    w = twin.recording_writer()
    stream = q.StreamAccessFactory_allocate(0)
    with pytest.raises(TypeError, match=r"^in method 'Writer_write_all', argument 1 of type 'quelbo::Writer \*'$"):
        q.Writer_write_all(5)
    with pytest.raises(TypeError, match=r"^in method 'Writer_name', argument 1 of type 'quelbo::Writer const \*'$"):
        q.Writer_name(stream)
    for fn in (q.Writer_write_all, q.Writer_to_string, q.Writer_version):
        for empty in (None, twin.empty_writer()):
            with pytest.raises(ValueError, match="^invalid null reference in method '%s', argument 1" % fn.__name__):
                fn(empty)
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'Writer_set_option', argument 2 of "
                                         r"type 'std::string const &'$"):
        q.Writer_set_option(w, None, create(1))
    with pytest.raises(TypeError, match=r"^in method 'Writer_set_option', argument 2 of type "
                                        r"'std::string const &'$"):
        q.Writer_set_option(w, b"compression", create(1))
    with pytest.raises(TypeError, match=r"^in method 'Writer_set_option', argument 3 of type "
                                        r"'std::shared_ptr< quelbo::VariantDataValue >'$"):
        q.Writer_set_option(w, "compression", 3)
    with pytest.raises(TypeError, match=r"^Writer_set_option expected 3 arguments, got 2$"):
        q.Writer_set_option(w, "compression")
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'Writer_set_option', argument 1"):
        q.Writer_set_option(None, "compression", create(1))
    assert twin.writer_log(w) == []
    with pytest.raises(TypeError, match=r"^in method 'delete_Writer', argument 1 of type 'quelbo::Writer \*'$"):
        q.delete_Writer(5)
    assert q.delete_Writer(None) is None
    assert not hasattr(q, "new_Writer") and not hasattr(q, "Writer_swiginit")


def test_lifetimes():
    w = twin.recording_writer()
    value = create(3)
    q.Writer_set_option(w, "compression", value)
    del value
    gc.collect()
    assert q.delete_Writer(w) is None
    with pytest.raises(ValueError, match="invalid null reference"):
        q.Writer_write_all(w)
    cls("Writer")  # the class is registered though nothing here makes one
