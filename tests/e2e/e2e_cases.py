"""The table of end-to-end cases, shared by the native and the Windows runs.

A case is a function (runner, folder) -> None or "skip: reason". It raises AssertionError
with a readable message when the tool misbehaves. Register a case with @case.
"""
import os

CASES = []

USAGE = "Please start the conversion by dragging a .wav or ._xsnd file onto the executable."
NEITHER = "The input file is neither a valid .wav file nor a valid Harrow 2 ._xsnd file."
PROMPT = b"Press ENTER to continue... "


def case(function):
    CASES.append(function)
    return function


def error_output(message):
    if isinstance(message, str):
        message = message.encode("latin-1")
    return b"Error: " + message + b"\n" + PROMPT


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(folder):
    return sorted(os.listdir(folder))


def expect_run(runner, args, expected_out, cwd=None):
    code, out = runner.run(args, cwd=cwd)
    assert code == 0, f"exit code {code}, expected 0"
    assert out == expected_out, f"output {out!r}, expected {expected_out!r}"


# --- the driver -------------------------------------------------------------------------------

@case
def no_argument_shows_usage(runner, folder):
    expect_run(runner, [], error_output(USAGE), cwd=folder)


@case
def two_arguments_show_usage_and_open_nothing(runner, folder):
    a, b = os.path.join(folder, "a.wav"), os.path.join(folder, "b.wav")
    write(a, b"RIFF")
    write(b, b"GAR3")
    expect_run(runner, [runner.arg_path(a), runner.arg_path(b)], error_output(USAGE))
    assert listing(folder) == ["a.wav", "b.wav"], listing(folder)


@case
def missing_file_is_named_as_passed_with_percent_signs(runner, folder):
    path = runner.arg_path(os.path.join(folder, "100%s %d %n missing.wav"))
    expect_run(runner, [path], error_output('Cannot open the file "' + path + '".'))
    assert listing(folder) == []


@case
def short_files_are_neither_kind(runner, folder):
    for content in [b"", b"R", b"RI", b"RIF", b"GAR"]:
        path = os.path.join(folder, "short.wav")
        write(path, content)
        expect_run(runner, [runner.arg_path(path)], error_output(NEITHER))
        assert read(path) == content
        assert listing(folder) == ["short.wav"], listing(folder)


@case
def unknown_magic_is_neither_kind(runner, folder):
    path = os.path.join(folder, "song.wav")
    content = b"RIFX" + bytes(100)
    write(path, content)
    expect_run(runner, [runner.arg_path(path)], error_output(NEITHER))
    assert read(path) == content and listing(folder) == ["song.wav"]


@case
def file_of_four_gib_is_too_large(runner, folder):
    path = os.path.join(folder, "huge.wav")
    with open(path, "wb") as f:
        f.write(b"RIFF")
        f.truncate(4 * 1024 ** 3)  # sparse: costs no disk
    shown = runner.arg_path(path)
    expect_run(runner, [shown], error_output(
        'The file "' + shown + '" is too large: files of 4 GiB or more cannot be converted.'))
    assert listing(folder) == ["huge.wav"]
    assert os.path.getsize(path) == 4 * 1024 ** 3


@case
def wait_ends_at_newline(runner, folder):
    code, out = runner.run([], cwd=folder, stdin_data=b"\nmore input\n")
    assert code == 0 and out == error_output(USAGE), out
