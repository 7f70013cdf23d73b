// xsndconv: drop a .wav or ._xsnd file on the executable and it writes the other form beside it.
#include "conversion_support.h"
#include "conversions.h"
#include "ve_filestream.h"
#include "ve_platform.h"
#include "ve_stream.h"
#include "ve_string.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kMagicXsnd = 0x33524147; // "GAR3"
constexpr uint32_t kMagicRiff = 0x46464952; // "RIFF"

const char* const kUsageMessage = "Please start the conversion by dragging a .wav or ._xsnd file onto the executable.";
const char* const kUnknownKindMessage =
    "The input file is neither a valid .wav file nor a valid Harrow 2 ._xsnd file.";
const char* const kTooLargeMessageStart = "The file \"";
const char* const kTooLargeMessageEnd = "\" is too large: files of 4 GiB or more cannot be converted.";
const char* const kAlteredNameMessageStart = "The name of the file \"";
const char* const kAlteredNameMessageEnd =
    "\" has characters that Windows cannot pass to this tool; please rename the file.";

void ShowText(const char* text) { vPlatformWriteConsole(text, static_cast<uint32_t>(std::strlen(text))); }

// The error line, the prompt, and the wait that keeps a drag-and-drop console window readable.
void ReportAndWait(const vCString& message)
{
    ShowText("Error: ");
    vPlatformWriteConsole(message.GetText(), message.GetLength());
    ShowText("\n");
    ShowText("Press ENTER to continue... ");
    vPlatformFlushConsole();
    for (;;)
    {
        const int c = vPlatformReadConsoleChar();
        if (c < 0 || c == '\n')
            break;
    }
}

// Opens the input and hands it to the conversion its first four bytes call for.
void Run(const char* argument, vCString& message)
{
    const vCString path(argument);
    message.Assign(QuotePath("Cannot open the file \"", path, "\"."));

    // An altered name may name another file, which must not be converted in its place.
    if (!vPlatformArgumentIsExact(1))
    {
        message.Assign(QuotePath(kAlteredNameMessageStart, path, kAlteredNameMessageEnd));
        return;
    }

    vCFileStream input;
    if (!input.Open(path, vEOpenMode_Read))
    {
        if (input.GetOpenFailure() == vEErrorCode_FileTooLarge)
            message.Assign(QuotePath(kTooLargeMessageStart, path, kTooLargeMessageEnd));
        return;
    }

    uint32_t magic = 0;
    ReadInteger<uint32_t>(input, magic);

    message.AssignText(kUnknownKindMessage);
    if (magic == kMagicXsnd)
        message.Assign(ConvertXsndToWav(input));
    else if (magic == kMagicRiff)
        message.Assign(ConvertWavToXsnd(input));

    input.Close();
}

} // namespace

int main(int argc, char** argv)
{
    vCString message(kUsageMessage);
    if (argc == 2)
        Run(argv[1], message);
    if (message.GetLength() != 0)
        ReportAndWait(message);
    return 0;
}
