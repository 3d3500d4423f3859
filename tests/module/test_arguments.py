"""How every callable of the module binds its arguments: its signature text,
keywords binding like positions, and the binder's errors, derived from one
table of the callables' parameters."""

import pytest

import quorvane
from quorvane import Node, SearchType
from support import notes, shape

N = Node("n", {"k": "v"}, [Node("c", text="t")], "x")
DOCUMENT = '<r><n k="v">t</n></r>'


# Each callable the module's binder serves: its name in messages, itself, the
# first parameter of its signature text ($self or $cls, None for Node, whose
# text test_module.py checks), its parameters (all but the required ones
# default to None), how many are required, and a valid argument for each.
CALLABLES = [
    ("read_string", quorvane.read_string, "", ["xml_string", "root_tag"], 2, [DOCUMENT, "n"]),
    ("read_bytes", quorvane.read_bytes, "", ["xml_bytes", "root_tag"], 2, [DOCUMENT.encode(), "n"]),
    ("read_file", quorvane.read_file, "", ["file_path", "root_tag"], 2, ["in.xml", "n"]),
    ("write_string", quorvane.write_string, "", ["node", "indent", "default_xml_def"], 1, [N, 2, False]),
    ("write_bytes", quorvane.write_bytes, "", ["node", "indent", "default_xml_def"], 1, [N, 2, False]),
    ("write_file", quorvane.write_file, "", ["node", "file_path", "indent", "default_xml_def"], 2,
     [N, "out.xml", 2, False]),
    ("Node.__new__", Node, None, ["name", "attrs", "children", "text"], 1, ["a", {"k": "v"}, [N], "t"]),
    ("Node.__new__", lambda *args, **kwargs: Node.__new__(Node, *args, **kwargs), None,
     ["name", "attrs", "children", "text"], 1, ["a", {"k": "v"}, [N], "t"]),
    ("Node.search_by_name", N.search_by_name, "$self", ["name", "depth"], 1, ["c", 1]),
    ("Node.search_by_attr", N.search_by_attr, "$self", ["key", "depth"], 1, ["k", 0]),
    ("Node.search_by_text", N.search_by_text, "$self", ["text", "depth"], 1, ["t", 1]),
    ("Node.search", N.search, "$self", ["by", "value", "depth"], 2, [SearchType.Text, "t", 1]),
    ("Node.from_dict", N.from_dict, "$cls", ["dict_"], 1, [N.to_dict()]),
    ("Node.__to_string", getattr(N, "__to_string"), "$self", ["spacing"], 0, [3]),
]
FIELDS = "name, function, receiver, params, required, values"
EACH = pytest.mark.parametrize(FIELDS, CALLABLES, ids=[entry[0] for entry in CALLABLES])


@pytest.mark.parametrize(FIELDS, [entry for entry in CALLABLES if entry[2] is not None],
                         ids=[entry[0] for entry in CALLABLES if entry[2] is not None])
def test_signature_text(name, function, receiver, params, required, values):
    # The one place the texts are pinned; stubtest (make test-stubs) checks
    # the typed stub against them, all but __to_string's, which the stub
    # cannot name.
    listed = [receiver] * bool(receiver) + params[:required] + [f"{param}=None" for param in params[required:]]
    assert function.__text_signature__ == f"({', '.join(listed)})"
    assert function.__doc__ is None


def test_functions_and_to_dict():
    functions = [quorvane.read_string, quorvane.read_bytes, quorvane.read_file, quorvane.write_string,
                 quorvane.write_bytes, quorvane.write_file]
    assert {function.__module__ for function in functions} == {"quorvane"}
    # The interpreter binds to_dict's arguments, with its own messages.
    assert Node.to_dict.__text_signature__ == "($self)"
    for args, kwargs in [((1,), {}), ((), {"x": 1})]:
        with pytest.raises(TypeError):
            N.to_dict(*args, **kwargs)


def result(value):
    """What a call returned, with nodes compared by their whole shape."""
    if isinstance(value, list):
        return [result(item) for item in value]
    return shape(value) if isinstance(value, Node) else value


@EACH
def test_keywords_bind_like_positions(tmp_path, monkeypatch, name, function, receiver, params, required,
                                      values):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "in.xml").write_text(DOCUMENT)

    def call(*args, **kwargs):
        returned = result(function(*args, **kwargs))
        return returned, (tmp_path / "out.xml").read_text() if name == "write_file" else None

    by_position = call(*values)
    assert call(**dict(reversed(list(zip(params, values))))) == by_position
    assert call(*values[:required], **dict(zip(params[required:], values[required:]))) == by_position


def missing(name, params):
    noun = "argument" if len(params) == 1 else "arguments"
    quoted = " and ".join(f"'{param}'" for param in params)  # no callable needs three
    return f"{name}() missing {len(params)} required positional {noun}: {quoted}"


def binding_errors(name, params, required):
    """(positional arguments, keyword arguments, message) of the binder's
    errors for one callable; any object stands for each argument, as binding
    fails before a value is converted."""
    count = len(params)
    takes = f"takes {count}" if required == count else f"takes from {required} to {count}"
    cases = [
        ((object(),) * (count + 1), {}, f"{name}() {takes} positional arguments but {count + 1} were given"),
        # Names match whole: a parameter's name less its last letter is no parameter.
        ((object(),) * required, {params[0][:-1]: 1},
         f"{name}() got an unexpected keyword argument '{params[0][:-1]}'"),
        ((object(),), {params[0]: 1}, f"{name}() got multiple values for argument '{params[0]}'"),
        ((object(),) * count, {params[-1]: 1}, f"{name}() got multiple values for argument '{params[-1]}'"),
    ]
    if required:
        # Every required argument missing, the optional ones given by keyword.
        cases.append(((), dict.fromkeys(params[required:], object()), missing(name, params[:required])))
    if required > 1:
        cases.append(((object(),), {}, missing(name, params[1:required])))
    return cases


@EACH
def test_binding_errors(name, function, receiver, params, required, values):
    for args, kwargs, message in binding_errors(name, params, required):
        with pytest.raises(TypeError) as info:
            function(*args, **kwargs)
        assert str(info.value) == message
        assert notes(info) is None

