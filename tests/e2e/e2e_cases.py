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


# --- the conversions --------------------------------------------------------------------------
#
# Real WAVE files from Python's wave module, sox and ffmpeg, generated here at test time, are
# wrapped and unwrapped. The 139 bytes in front of the payload are checked against the layout
# below, written out by hand, byte for byte; only the timestamp (offsets 32 to 39) depends on the
# clock, and it must be the whole-second FILETIME of the run.

import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples"))
from make_tone import write_tone  # noqa: E402

FILETIME_EPOCH_OFFSET = 11644473600
TICKS_PER_SECOND = 10000000

# Offsets 0 to 27 and 40 to 138: tags, block locations, ".wav", the property block, payload tag.
LAYOUT_HEAD = bytes.fromhex(
    "47415233 00000000 47523031 534E3038 28000000 53000000 7B000000".replace(" ", ""))
LAYOUT_TAIL = bytes.fromhex((
    "2E776176 00000000"                                  # 40: ".wav"
    "47454330 06CAE088 0100 23000000 1E000000 1F000000"  # 48: property block
    "0200 CD933CB2 EB63967C 04000000"                    # 70: two entries; 84 is the duration
).replace(" ", ""))
LAYOUT_AFTER_DURATION = bytes.fromhex((
    "A0A7CBF9 B2962E0D 01000000 00"                      # 88: entry 2
    "06CAE088 01000000 0000 DD29F97B 01000000 0000 72A0AD84 01000000 0000"
    "47415233 00000000"                                  # 131: payload tag
).replace(" ", ""))
assert len(LAYOUT_HEAD) == 28 and len(LAYOUT_TAIL) == 44 and len(LAYOUT_AFTER_DURATION) == 51

INVALID_XSND = "Invalid ._xsnd file"


def expected_layout(payload_size, duration):
    """The 139 bytes before the payload, with the timestamp left as eight zero bytes."""
    return (LAYOUT_HEAD + struct.pack("<I", payload_size + 8) + bytes(8) + LAYOUT_TAIL +
            struct.pack("<I", duration) + LAYOUT_AFTER_DURATION)


def check_wrapped(xsnd, wav, duration, earliest=None, latest=None):
    """Checks a ._xsnd file against its WAVE file and the expected play time."""
    assert len(xsnd) == len(wav) + 139, f"output of {len(xsnd)} bytes for {len(wav)} bytes of input"
    blanked = xsnd[:32] + bytes(8) + xsnd[40:139]
    want = expected_layout(len(wav), duration)
    if blanked != want:
        first = next(i for i in range(139) if blanked[i] != want[i])
        raise AssertionError(f"layout differs from offset {first}: {blanked[first:first + 8].hex(' ')}"
                             f" instead of {want[first:first + 8].hex(' ')}")
    got = struct.unpack_from("<I", xsnd, 84)[0]
    assert got == duration, f"duration {got}, expected {duration}"
    assert xsnd[139:] == wav, "payload differs from the input"
    ticks = struct.unpack_from("<Q", xsnd, 32)[0]
    assert ticks % TICKS_PER_SECOND == 0, f"timestamp {ticks} is not a whole second"
    if earliest is not None:
        seconds = ticks // TICKS_PER_SECOND - FILETIME_EPOCH_OFFSET
        assert earliest <= seconds <= latest, f"timestamp {seconds} not within {earliest}..{latest}"


def round_trip(runner, folder, name, duration):
    """Wraps folder/name.wav, checks the layout, unwraps it again and compares byte for byte."""
    wav_path = os.path.join(folder, name + ".wav")
    xsnd_path = os.path.join(folder, name + "._xsnd")
    wav = read(wav_path)
    earliest = int(time.time())
    expect_run(runner, [runner.arg_path(wav_path)], b"")
    latest = int(time.time()) + 1
    check_wrapped(read(xsnd_path), wav, duration, earliest, latest)

    os.rename(wav_path, os.path.join(folder, "original"))
    expect_run(runner, [runner.arg_path(xsnd_path)], b"")
    assert read(wav_path) == wav, "unwrapping did not give the input back byte for byte"
    assert read(xsnd_path)[139:] == wav


def generate(tool, args, folder, out_name=None, stdout_to=None):
    """Runs a generator; returns "skip: ..." when it is not installed, else None."""
    path = shutil.which(tool)
    if path is None:
        return f"skip: {tool} is not installed, so this file cannot be generated"
    stdout = open(os.path.join(folder, stdout_to), "wb") if stdout_to else subprocess.DEVNULL
    try:
        subprocess.run([path] + args, cwd=folder, stdout=stdout, stderr=subprocess.PIPE,
                       stdin=subprocess.DEVNULL, check=True, timeout=120)
    finally:
        if stdout_to:
            stdout.close()
    return None


def sox(*args):
    return lambda folder: generate("sox", ["-n"] + list(args), folder)


def ffmpeg(filter_args, out, pipe=False):
    base = ["-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
            "-i", "sine=frequency=440:sample_rate=8000:duration=0.5"]
    if pipe:
        return lambda folder: generate("ffmpeg", base + filter_args + ["-f", "wav", "pipe:1"], folder,
                                       stdout_to=out)
    return lambda folder: generate("ffmpeg", base + filter_args + [out], folder)


def python_wave(rate, channels, width, frames):
    def make(folder):
        write_tone(os.path.join(folder, "tone.wav"), rate, channels, width, frames)
    return make


def duration_of(rate, channels, width, frames):
    """Play time in ms of `frames` frames: data bytes x 1000 / byte rate, rounded down."""
    return frames * channels * width * 1000 // (rate * channels * width)


# name, generator, play time in ms
GENERATED = [
    ("wave_module_8bit_mono_odd_size_rounded_down", python_wave(8000, 1, 1, 765), duration_of(8000, 1, 1, 765)),
    ("wave_module_16bit_stereo", python_wave(44100, 2, 2, 22050), 500),
    ("wave_module_24bit_mono", python_wave(48000, 1, 3, 12000), 250),
    ("wave_module_32bit_stereo", python_wave(22050, 2, 4, 11025), 500),
    ("sox_8bit_mono_odd_data_with_pad_byte", sox("-r", "8001", "-c", "1", "-b", "8", "tone.wav", "synth", "1", "sine", "440"), 1000),
    ("sox_16bit_stereo", sox("-r", "44100", "-c", "2", "-b", "16", "tone.wav", "synth", "0.25", "sine", "440"), 250),
    ("sox_24bit_stereo_extensible", sox("-r", "8000", "-c", "2", "-b", "24", "tone.wav", "synth", "0.25", "sine", "440"), 250),
    ("sox_32bit_mono", sox("-r", "8000", "-c", "1", "-b", "32", "-e", "signed-integer", "tone.wav", "synth", "0.75", "sine", "440"), 750),
    ("sox_float_mono", sox("-r", "8000", "-c", "1", "-b", "32", "-e", "floating-point", "tone.wav", "synth", "0.25", "sine", "440"), 250),
    ("sox_6_channels_extensible", sox("-r", "8000", "-c", "6", "-b", "16", "tone.wav", "synth", "0.25", "sine", "440"), 250),
    ("ffmpeg_list_info_metadata", ffmpeg(["-c:a", "pcm_s16le", "-metadata", "title=A tone", "-metadata", "artist=Us"], "tone.wav"), 500),
    ("ffmpeg_float_with_fact_and_list", ffmpeg(["-c:a", "pcm_f32le"], "tone.wav"), 500),
    ("ffmpeg_6_channels_24bit_extensible", ffmpeg(["-ac", "6", "-c:a", "pcm_s24le"], "tone.wav"), 500),
    ("ffmpeg_odd_bext_chunk_with_pad_byte", ffmpeg(["-c:a", "pcm_s16le", "-write_bext", "1", "-metadata",
                                                    "coding_history=A=PCM,F=8000"], "tone.wav"), 500),
    ("ffmpeg_streamed_into_a_pipe", ffmpeg(["-c:a", "pcm_s16le"], "tone.wav", pipe=True), 500),
]


def generated_case(name, make, duration):
    def run_case(runner, folder):
        outcome = make(folder)
        if outcome:
            return outcome
        return round_trip(runner, folder, "tone", duration)
    run_case.__name__ = "round_trip_" + name
    return run_case


for _name, _make, _duration in GENERATED:
    case(generated_case(_name, _make, _duration))


@case
def generated_files_have_the_shapes_the_cases_rely_on(runner, folder):
    """The generators really made the chunks that the cases above are named after."""
    def chunks(path):
        data, offset, found = read(path), 12, []
        while offset + 8 <= len(data):
            cid, size = data[offset:offset + 4], struct.unpack_from("<I", data, offset + 4)[0]
            found.append((cid, size))
            if cid == b"data":
                break
            offset += 8 + size + (size & 1)
        return found

    shapes = {
        "sox_8bit_mono_odd_data_with_pad_byte": lambda c, d: c[-1] == (b"data", 8001) and len(d) == 44 + 8002,
        "sox_6_channels_extensible": lambda c, d: c[0] == (b"fmt ", 40),
        "ffmpeg_list_info_metadata": lambda c, d: any(i == b"LIST" for i, _ in c),
        "ffmpeg_odd_bext_chunk_with_pad_byte": lambda c, d: any(i == b"bext" and s % 2 == 1 for i, s in c),
        "ffmpeg_streamed_into_a_pipe": lambda c, d: c[-1] == (b"data", 0xFFFFFFFF) and d[4:8] == b"\xff" * 4,
    }
    for name, make, _ in GENERATED:
        if name not in shapes:
            continue
        path = os.path.join(folder, "tone.wav")
        if os.path.exists(path):
            os.remove(path)
        outcome = make(folder)
        if outcome:
            return outcome
        assert shapes[name](chunks(path), read(path)), f"{name}: chunks {chunks(path)}"


def plain_wave(data_size, byte_rate=8000):
    """A 44-byte-header WAVE file by hand, for cases about names and places, not content."""
    fmt = struct.pack("<HHIIHH", 1, 1, byte_rate, byte_rate, 1, 8)
    return (b"RIFF" + struct.pack("<I", 36 + data_size) + b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt +
            b"data" + struct.pack("<I", data_size) + bytes(i % 251 for i in range(data_size)))


def faketime_run(runner, folder, moment, wav_path):
    """Runs the tool with its clock at `moment` (UTC); returns "skip: why" when that cannot be
    arranged. Under Wine the clock of the Windows program is faked as well: Wine reads the
    host's clock."""
    tool = shutil.which("faketime")
    if tool is None:
        return "skip: faketime is not installed"
    if runner.sanitized:
        # libfaketime's preloaded clock and the sanitizer runtime deadlock at start-up; the
        # unit tests check both timestamps at an injected clock in the sanitized build.
        return "skip: faketime cannot run a sanitized executable"
    clock = "@" + moment  # starts at the moment and ticks
    if runner.windows:
        # Wine's own services must already run on the real clock (a run without faketime starts
        # them); then the clock can stand still at the moment, however long Wine takes to start.
        runner.run([], cwd=folder)
        clock = moment
    code, out = runner.run([runner.arg_path(wav_path)], wrapper=[tool, "-f", clock], extra_env={"TZ": "UTC"})
    assert code == 0 and out == b"", out
    return None


@case
def timestamp_at_the_epoch_gives_the_reference_header(runner, folder):
    wav_path = os.path.join(folder, "tone.wav")
    write(wav_path, plain_wave(1000000))  # 1,000,044 bytes
    skipped = faketime_run(runner, folder, "1970-01-01 00:00:00", wav_path)
    if skipped:
        return skipped
    header = read(os.path.join(folder, "tone._xsnd"))[:48]
    assert header == bytes.fromhex(
        "47 41 52 33 00 00 00 00 47 52 30 31 53 4E 30 38 28 00 00 00 53 00 00 00 7B 00 00 00 74 42 0F 00"
        "00 80 3E D5 DE B1 9D 01 2E 77 61 76 00 00 00 00"), header.hex(" ")


@case
def timestamp_in_april_2012(runner, folder):
    wav_path = os.path.join(folder, "tone.wav")
    wav = plain_wave(4000)
    write(wav_path, wav)
    skipped = faketime_run(runner, folder, "2012-04-27 12:00:00", wav_path)
    if skipped:
        return skipped
    xsnd = read(os.path.join(folder, "tone._xsnd"))
    assert xsnd[32:40] == bytes.fromhex("00 20 85 45 6D 24 CD 01"), xsnd[32:40].hex(" ")
    check_wrapped(xsnd, wav, 500)


@case
def wrapping_replaces_an_existing_output(runner, folder):
    wav_path = os.path.join(folder, "tone.wav")
    write(wav_path, plain_wave(800))
    write(os.path.join(folder, "tone._xsnd"), bytes(5000))
    expect_run(runner, [runner.arg_path(wav_path)], b"")
    check_wrapped(read(os.path.join(folder, "tone._xsnd")), read(wav_path), 100)


@case
def bare_file_name_writes_into_the_current_directory(runner, folder):
    wav = plain_wave(800)
    write(os.path.join(folder, "tone.wav"), wav)
    expect_run(runner, ["tone.wav"], b"", cwd=folder)
    os.rename(os.path.join(folder, "tone.wav"), os.path.join(folder, "original"))
    expect_run(runner, ["tone._xsnd"], b"", cwd=folder)
    assert read(os.path.join(folder, "tone.wav")) == wav
    assert listing(folder) == ["original", "tone._xsnd", "tone.wav"], listing(folder)


@case
def directory_at_the_output_path_cannot_be_created(runner, folder):
    wav_path = os.path.join(folder, "tone.wav")
    write(wav_path, plain_wave(800))
    os.mkdir(os.path.join(folder, "tone._xsnd"))
    out = runner.arg_path(os.path.join(folder, "tone._xsnd"))
    expect_run(runner, [runner.arg_path(wav_path)], error_output('Cannot open/create the file "' + out + '".'))
    assert os.path.isdir(os.path.join(folder, "tone._xsnd"))


def xsnd_by_hand(tag=b"SN08", offset=123, length=None, payload=b"", filler=None):
    length = len(payload) + 8 if length is None else length
    head = b"GAR3" + bytes(4) + b"GR01" + tag + struct.pack("<IIII", 40, 83, offset, length)
    filler = bytes((7 * i) % 256 for i in range(offset + 16 - 32)) if filler is None else filler
    return head + filler + payload


@case
def only_the_first_four_bytes_choose_the_conversion(runner, folder):
    # A RIFF file named .dat is wrapped, a GAR3 file named .bin is unwrapped; a name never decides.
    wav = plain_wave(1600)
    write(os.path.join(folder, "song.dat"), wav)
    expect_run(runner, [runner.arg_path(os.path.join(folder, "song.dat"))], b"")
    check_wrapped(read(os.path.join(folder, "song._xsnd")), wav, 200)
    write(os.path.join(folder, "hit.bin"), xsnd_by_hand(payload=wav))
    expect_run(runner, [runner.arg_path(os.path.join(folder, "hit.bin"))], b"")
    assert read(os.path.join(folder, "hit.wav")) == wav
    assert listing(folder) == ["hit.bin", "hit.wav", "song._xsnd", "song.dat"], listing(folder)


@case
def unwrap_takes_the_payload_from_offset_216_when_the_block_offset_is_200(runner, folder):
    payload = bytes((3 * i + 1) % 256 for i in range(3000))
    path = os.path.join(folder, "hit._xsnd")
    write(path, xsnd_by_hand(offset=200, payload=payload))
    expect_run(runner, [runner.arg_path(path)], b"")
    assert read(os.path.join(folder, "hit.wav")) == payload


@case
def unwrap_of_data_block_length_8_writes_an_empty_file(runner, folder):
    path = os.path.join(folder, "hit._xsnd")
    write(path, xsnd_by_hand(length=8, payload=b"trailing bytes are no payload"))
    write(os.path.join(folder, "hit.wav"), b"old content")
    expect_run(runner, [runner.arg_path(path)], b"")
    assert read(os.path.join(folder, "hit.wav")) == b""


@case
def missing_sn08_leaves_an_existing_wav_untouched(runner, folder):
    path = os.path.join(folder, "hit._xsnd")
    write(path, xsnd_by_hand(tag=b"SN09", payload=b"RIFF" + bytes(40)))
    write(os.path.join(folder, "hit.wav"), b"keep me")
    expect_run(runner, [runner.arg_path(path)], error_output(INVALID_XSND))
    assert read(os.path.join(folder, "hit.wav")) == b"keep me"
    assert listing(folder) == ["hit._xsnd", "hit.wav"]


@case
def untruthful_xsnd_headers_are_refused_before_any_output(runner, folder):
    path = os.path.join(folder, "hit._xsnd")
    good = xsnd_by_hand(payload=bytes(100))
    damaged = [
        good[:31],                                          # ends before offset 32
        good[:-1],                                          # payload reaches past the end
        xsnd_by_hand(length=7, payload=bytes(100)),         # length below 8: nearly 4 GiB
        xsnd_by_hand(offset=0xFFFFFFF0, filler=b"", payload=bytes(100)),  # offset + 16 wraps to 0
    ]
    shown = runner.arg_path(path)
    for content in damaged:
        write(path, content)
        write(os.path.join(folder, "hit.wav"), b"keep me")
        expect_run(runner, [shown], error_output(
            'The ._xsnd file "' + shown + '" is damaged: its header does not match the data it holds.'))
        assert read(path) == content and read(os.path.join(folder, "hit.wav")) == b"keep me"
        assert listing(folder) == ["hit._xsnd", "hit.wav"], listing(folder)


@case
def wave_without_data_chunk_or_byte_rate_is_refused(runner, folder):
    path = os.path.join(folder, "song.wav")
    shown = runner.arg_path(path)
    fmt = b"fmt " + struct.pack("<I", 16) + struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    cases = [
        (b"RIFF" + bytes(4) + b"WAVE" + fmt, 'no "data" chunk lies within the file.'),
        (b"RIFF" + bytes(4) + b"WAVE" + b"LIST" + struct.pack("<I", 0xFFFFFFF7) + bytes(20),
         'no "data" chunk lies within the file.'),  # would wrap round to offset 12 for ever
        (b"RIFF" + bytes(4) + b"WAVE" + b"data" + struct.pack("<I", 4) + bytes(4) + fmt,
         'no "fmt " chunk with a byte rate comes before its "data" chunk.'),
        (b"RIFF" + bytes(4) + b"WAVE" + fmt.replace(struct.pack("<II", 8000, 8000), struct.pack("<II", 8000, 0)) +
         b"data" + struct.pack("<I", 4) + bytes(4), 'no "fmt " chunk with a byte rate comes before its "data" chunk.'),
    ]
    for content, reason in cases:
        write(path, content)
        expect_run(runner, [shown], error_output('The .wav file "' + shown + '" is damaged: ' + reason))
        assert read(path) == content and listing(folder) == ["song.wav"], listing(folder)


@case
def wave_too_large_to_wrap_is_refused(runner, folder):
    path = os.path.join(folder, "huge.wav")
    size = 2 ** 32 - 139  # one byte more than fits: the output would be 2^32 bytes
    with open(path, "wb") as f:
        f.write(plain_wave(0)[:40] + struct.pack("<I", size - 44))
        f.truncate(size)  # sparse: costs no disk
    shown = runner.arg_path(path)
    expect_run(runner, [shown], error_output('The file "' + shown + '" is too large to be wrapped into a ._xsnd file.'))
    assert listing(folder) == ["huge.wav"] and os.path.getsize(path) == size


@case
def output_naming_the_input_itself_is_refused(runner, folder):
    wav_named_xsnd = os.path.join(folder, "a._xsnd")
    xsnd_named_wav = os.path.join(folder, "b.wav")
    wav, xsnd = plain_wave(500), xsnd_by_hand(payload=plain_wave(500))
    write(wav_named_xsnd, wav)
    write(xsnd_named_wav, xsnd)
    for path, content in [(wav_named_xsnd, wav), (xsnd_named_wav, xsnd)]:
        shown = runner.arg_path(path)
        expect_run(runner, [shown], error_output('The output file "' + shown + '" would replace the input file itself.'))
        assert read(path) == content
    assert listing(folder) == ["a._xsnd", "b.wav"]


@case
def output_reaching_the_input_through_a_hard_link_is_refused(runner, folder):
    wav_path = os.path.join(folder, "tone.wav")
    wav = plain_wave(500)
    write(wav_path, wav)
    os.link(wav_path, os.path.join(folder, "tone._xsnd"))
    out = runner.arg_path(os.path.join(folder, "tone._xsnd"))
    expect_run(runner, [runner.arg_path(wav_path)],
               error_output('The output file "' + out + '" would replace the input file itself.'))
    assert read(wav_path) == wav


@case
def failed_write_is_reported_and_the_output_removed(runner, folder):
    if not os.path.exists("/dev/full"):
        return "skip: needs /dev/full, the device on which every write fails"
    wav_path = os.path.join(folder, "tone.wav")
    write(wav_path, plain_wave(20000))
    os.symlink("/dev/full", os.path.join(folder, "tone._xsnd"))
    out = runner.arg_path(os.path.join(folder, "tone._xsnd"))
    expect_run(runner, [runner.arg_path(wav_path)], error_output('Cannot write the file "' + out + '".'))
    # Wine refuses to delete a link that leads to a device, so only the native run sees it go.
    if not runner.windows:
        assert listing(folder) == ["tone.wav"], listing(folder)
    assert read(wav_path) == plain_wave(20000)


# --- Windows only: the .exe under Wine ----------------------------------------------------------
#
# Wine maps Z:\ to the root of this machine and, like Windows, finds a file whatever the case of
# its name. Arguments reach the tool in the ANSI code page (1252 in the runner's Wine locale);
# files keep UTF-8 names on disk.

import shlex

NOT_WINDOWS = "skip: Windows only (run with --wine)"
REPLACES_INPUT = 'The output file "{}" would replace the input file itself.'


def shown_error(runner, message):
    """The error output for a message that may hold characters outside ASCII."""
    return b"Error: " + runner.shown(message) + b"\n" + PROMPT


@case
def windows_output_name_differing_only_in_case_is_the_input_itself(runner, folder):
    if not runner.windows:
        return NOT_WINDOWS
    wav_path = os.path.join(folder, "X._XSND")  # a WAVE file: its output would be X._xsnd
    xsnd_path = os.path.join(folder, "Y.WAV")  # a sound resource file: its output would be Y.wav
    wav, xsnd = plain_wave(500), xsnd_by_hand(payload=plain_wave(500))
    write(wav_path, wav)
    write(xsnd_path, xsnd)
    for path, content, output in [(wav_path, wav, "X._xsnd"), (xsnd_path, xsnd, "Y.wav")]:
        # The drive letter in lower case, as some programs pass it: kept as passed.
        shown = "z" + runner.arg_path(path)[1:]
        out = shown[:shown.rindex("\\") + 1] + output
        expect_run(runner, [shown], error_output(REPLACES_INPUT.format(out)))
        assert read(path) == content
    assert listing(folder) == ["X._XSND", "Y.WAV"], listing(folder)


@case
def windows_paths_get_a_backslash_before_the_output_name(runner, folder):
    if not runner.windows:
        return NOT_WINDOWS
    music = os.path.join(folder, "My Music")
    os.mkdir(music)
    wav = plain_wave(1600)
    write(os.path.join(music, "song.v2.wav"), wav)
    write(os.path.join(music, "hit.backup._xsnd"), xsnd_by_hand(payload=wav))
    expect_run(runner, [runner.arg_path(os.path.join(music, "song.v2.wav"))], b"")
    check_wrapped(read(os.path.join(music, "song.v2._xsnd")), wav, 200)
    expect_run(runner, [runner.arg_path(os.path.join(music, "hit.backup._xsnd"))], b"")
    assert read(os.path.join(music, "hit.backup.wav")) == wav
    assert listing(music) == ["hit.backup._xsnd", "hit.backup.wav", "song.v2._xsnd", "song.v2.wav"], listing(music)
    assert listing(folder) == ["My Music"], listing(folder)

    # Forward slashes in the argument: the separator added is still a backslash, which the
    # message about an output path that cannot be created shows.
    os.mkdir(os.path.join(music, "song.v2.wav._xsnd"))
    write(os.path.join(music, "song.v2.wav.wav"), wav)
    forward = runner.arg_path(os.path.join(music, "song.v2.wav.wav")).replace("\\", "/")
    out = forward[:forward.rindex("/")] + "\\song.v2.wav._xsnd"
    expect_run(runner, [forward], error_output('Cannot open/create the file "' + out + '".'))


@case
def windows_names_outside_ascii_arrive_in_the_ansi_code_page(runner, folder):
    if not runner.windows:
        return NOT_WINDOWS
    wav = plain_wave(800)
    write(os.path.join(folder, "Grüße à Zoë.wav"), wav)
    expect_run(runner, [runner.arg_path(os.path.join(folder, "Grüße à Zoë.wav"))], b"")
    check_wrapped(read(os.path.join(folder, "Grüße à Zoë._xsnd")), wav, 100)
    missing = runner.arg_path(os.path.join(folder, "Größe – fehlt.wav"))
    expect_run(runner, [missing], shown_error(runner, 'Cannot open the file "' + missing + '".'))
    assert listing(folder) == ["Grüße à Zoë._xsnd", "Grüße à Zoë.wav"], listing(folder)


@case
def windows_names_the_ansi_code_page_lacks_are_refused_not_taken_for_look_alikes(runner, folder):
    # Catches converting another file than the one dropped: Windows passes "ā.wav" to a narrow
    # main as "a.wav", and the output would replace an unrelated a._xsnd.
    if not runner.windows:
        return NOT_WINDOWS
    for name in ["ā.wav", "日本.wav"]:
        write(os.path.join(folder, name), plain_wave(800))
    write(os.path.join(folder, "a.wav"), plain_wave(1600))
    write(os.path.join(folder, "a._xsnd"), b"someone else's sound")
    before = listing(folder)
    for name, arrives in [("ā.wav", "a.wav"), ("日本.wav", "??.wav")]:
        shown = runner.arg_path(os.path.join(folder, arrives))
        expect_run(runner, [runner.arg_path(os.path.join(folder, name))], error_output(
            'The name of the file "' + shown + '" has characters that Windows cannot pass to this tool; '
            'please rename the file.'))
    assert read(os.path.join(folder, "a._xsnd")) == b"someone else's sound"
    assert listing(folder) == before, listing(folder)


@case
def windows_wildcards_in_the_argument_are_not_expanded(runner, folder):
    if not runner.windows:
        return NOT_WINDOWS
    write(os.path.join(folder, "a.wav"), plain_wave(800))
    for pattern in ["*.wav", "?.wav"]:
        shown = runner.arg_path(os.path.join(folder, pattern))
        expect_run(runner, [shown], error_output('Cannot open the file "' + shown + '".'))
    assert listing(folder) == ["a.wav"], listing(folder)


@case
def payload_beyond_two_gib_is_unwrapped(runner, folder):
    # Catches 32-bit signed file offsets (fseek's long on Windows): the payload lies at 3 GiB.
    payload = bytes((5 * i + 3) % 256 for i in range(5000))
    offset = 3 * 2 ** 30
    path = os.path.join(folder, "far._xsnd")
    with open(path, "wb") as f:
        f.write(xsnd_by_hand(offset=offset, length=len(payload) + 8, filler=b"", payload=b""))
        f.seek(offset + 16)  # sparse: the hole costs no disk
        f.write(payload)
    expect_run(runner, [runner.arg_path(path)], b"")
    assert read(os.path.join(folder, "far.wav")) == payload


def wait_for(condition, seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return condition()


@case
def windows_console_window_shows_the_error_and_waits_for_enter(runner, folder):
    # A real console: Wine's console on a terminal that tmux draws. Catches a prompt that is not
    # flushed, a line break after it, characters that the console shows differently from the
    # path that was passed, and a wait that ends before ENTER.
    if not runner.windows:
        return NOT_WINDOWS
    tmux = shutil.which("tmux")
    if tmux is None:
        return "skip: tmux is not installed"
    shown = runner.arg_path(os.path.join(folder, "Grüße 100%s.wav"))
    exit_file = os.path.join(folder, "exit code")
    shell = " ".join(shlex.quote(a) for a in runner.command([shown])) + "; echo $? > " + shlex.quote(exit_file)
    base = [tmux, "-L", f"xsndconv-e2e-{os.getpid()}", "-f", "/dev/null"]
    env = runner.env({"LC_ALL": "C.UTF-8"})

    def tmux_out(*args):
        return subprocess.run(base + list(args), env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=60).stdout.decode("utf-8", "replace")

    def screen():
        return tmux_out("capture-pane", "-p", "-t", "tool").rstrip("\n").split("\n")

    subprocess.run(base + ["new-session", "-d", "-s", "tool", "-x", "200", "-y", "10", shell], env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True, timeout=60)
    try:
        prompt = PROMPT.decode().rstrip()
        lines = wait_for(lambda: prompt in "\n".join(screen()) and screen())
        assert lines and lines[:2] == ['Error: Cannot open the file "' + shown + '".', prompt], lines
        cursor = tmux_out("display-message", "-p", "-t", "tool", "#{cursor_x} #{cursor_y}").split()
        assert cursor == [str(len(PROMPT)), "1"], f"cursor at {cursor}, expected behind the prompt"
        time.sleep(0.5)
        assert not os.path.exists(exit_file), "the tool ended without waiting for ENTER"
        tmux_out("send-keys", "-t", "tool", "Enter")
        assert wait_for(lambda: os.path.exists(exit_file) and read(exit_file).strip()), "no end after ENTER"
        assert read(exit_file).strip() == b"0", read(exit_file)
    finally:
        tmux_out("kill-server")


# --- injected faults: devices, directories and links where files are expected ------------------
#
# Each run must end with its message, leave its input as it was and leave no output behind.

POSIX_ONLY = "skip: needs POSIX devices and symbolic links"


@case
def input_that_is_a_directory_cannot_be_opened(runner, folder):
    # Catches a directory taken for a file: POSIX opens it for reading, and its "length" from
    # seeking to its end (nearly 2^63 on ext4) would be reported as a file too large.
    inside = os.path.join(folder, "song.wav")
    os.mkdir(inside)
    write(os.path.join(inside, "keep"), b"keep me")
    shown = runner.arg_path(inside)
    expect_run(runner, [shown], error_output('Cannot open the file "' + shown + '".'))
    assert listing(folder) == ["song.wav"] and listing(inside) == ["keep"], listing(folder)
    assert read(os.path.join(inside, "keep")) == b"keep me"


@case
def input_that_is_a_device_ends_with_a_message(runner, folder):
    # Catches a read loop on a device that never ends (/dev/zero) or never delivers (/dev/null):
    # seeking to their end gives a length of 0, so neither has a magic and the run ends at once.
    # Windows has its NUL device.
    devices = ["NUL"] if runner.windows else [d for d in ["/dev/null", "/dev/zero"] if os.path.exists(d)]
    for device in devices:
        expect_run(runner, [device], error_output(NEITHER), cwd=folder)
        assert listing(folder) == [], listing(folder)
        if runner.windows:
            continue
        link = os.path.join(folder, "song.wav")  # the same device behind a file's name
        os.symlink(device, link)
        expect_run(runner, [link], error_output(NEITHER))
        assert listing(folder) == ["song.wav"], listing(folder)
        os.remove(link)


@case
def disk_full_at_the_final_write_back_is_reported_and_the_output_removed(runner, folder):
    # Catches a failure that shows only when the output is closed: a payload smaller than the
    # 8191-byte window reaches the file in the last write-back, whose failure must still count.
    if runner.windows or not os.path.exists("/dev/full"):
        return POSIX_ONLY
    path = os.path.join(folder, "hit._xsnd")
    content = xsnd_by_hand(payload=plain_wave(3000))
    write(path, content)
    os.symlink("/dev/full", os.path.join(folder, "hit.wav"))
    out = os.path.join(folder, "hit.wav")
    expect_run(runner, [path], error_output('Cannot write the file "' + out + '".'))
    assert listing(folder) == ["hit._xsnd"], listing(folder)
    assert read(path) == content


@case
def output_reaching_the_input_through_a_symbolic_link_is_refused(runner, folder):
    # Catches opening the output for writing through a link to the input, which empties the input
    # before it is read.
    if runner.windows:
        return POSIX_ONLY
    wav_path = os.path.join(folder, "tone.wav")
    wav = plain_wave(500)
    write(wav_path, wav)
    os.symlink("tone.wav", os.path.join(folder, "tone._xsnd"))
    out = os.path.join(folder, "tone._xsnd")
    expect_run(runner, [wav_path], error_output('The output file "' + out + '" would replace the input file itself.'))
    assert read(wav_path) == wav and os.path.islink(out)
