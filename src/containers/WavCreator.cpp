#include "containers/WavCreator.h"

#include "foundation/ZrByteOrder.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrWavHeader.h"

#include <algorithm>
#include <cstring>

using namespace zrbytes;

CWAVCreator::~CWAVCreator() {
    Finish();
}

bool CWAVCreator::OpenOutput(const ZrString& fileName, const ZrAudioFormat& format) {
    if (IsOpen)
        Finish();
    m_failure.Empty();

    // The format is checked before the destination is touched, so that a refused start leaves
    // an existing file alone.
    Format = format;
    Format.MakePlain();
    if (!Format.IsPcmOrFloat()) {
        Fail(ZrString::Format("Unsupported sample format (tag %u): only integer PCM and "
                              "floating point can be written",
                              static_cast<unsigned>(format.FormatTag)));
        return false;
    }

    ZrFileSystem::MakeDirectoryTree(fileName);
    if (!File.Open(fileName, ZrFile::Mode::ReadWrite)) {
        Fail(ZrString::Format("Cannot create \"%s\": %s", fileName.ToUtf8().c_str(),
                              File.ErrorText().ToUtf8().c_str()));
        return false;
    }
    BytesWritten = 0;
    return true;
}

bool CWAVCreator::WriteBlock(const void* data, size_t length) {
    if (File.WriteAll(data, length))
        return true;
    Fail(ZrString::Format("Cannot write to \"%s\": %s", File.Path().ToUtf8().c_str(),
                          File.ErrorText().ToUtf8().c_str()));
    return false;
}

bool CWAVCreator::PatchField(uint64_t offset, const uint8_t bytes[4]) {
    return File.WriteAt(bytes, 4, offset) == 4;
}

void CWAVCreator::CloseOutput() {
    File.Close();
    BytesWritten = 0;
    IsOpen = false;
}

int CWAVCreator::Start(const ZrString& fileName, const ZrAudioFormat& format,
                       int64_t expectedBytes) {
    const uint64_t expected = static_cast<uint64_t>(std::max<int64_t>(expectedBytes, 0));
    if (!OpenOutput(fileName, format))
        return -1;
    if (WriteHeader) {
        ZrWavHeaderFields fields;
        fields.formatTag = Format.IsIeeeFloat() ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
        fields.channels = Format.Channels;
        fields.samplesPerSec = Format.SamplesPerSec;
        fields.avgBytesPerSec = Format.AvgBytesPerSec;
        fields.blockAlign = Format.BlockAlign;
        fields.bitsPerSample = Format.BitsPerSample; // container width, a multiple of 8
        // Sizes modulo 2^32; Finish writes the real ones.
        fields.riffSize = static_cast<uint32_t>(expected + ZrWavHeaderBytes - 8);
        fields.dataSize = static_cast<uint32_t>(expected);
        uint8_t header[ZrWavHeaderBytes];
        ZrWriteWavHeader(fields, header);
        // A destination that cannot take even the header fails the start, not the first block.
        if (!WriteBlock(header, sizeof header)) {
            CloseOutput();
            return -1;
        }
    }
    IsOpen = true;
    return 0;
}

int CWAVCreator::Write(uint8_t* data, uint64_t length) {
    if (!IsOpen || (!data && length)) {
        Fail(u"The output file is not open");
        return -1;
    }
    if (BigEndian && (Format.BitsPerSample == 16 || Format.BitsPerSample == 24))
        ReverseGroups(data, length, Format.BitsPerSample / 8u);
    if (length < 1)
        return 0;
    const int64_t written = File.Write(data, length);
    BytesWritten += static_cast<uint64_t>(std::max<int64_t>(written, 0));
    if (static_cast<uint64_t>(written) == length)
        return 0;
    Fail(ZrString::Format("Cannot write to \"%s\": %s", File.Path().ToUtf8().c_str(),
                          File.ErrorText().ToUtf8().c_str()));
    return -1;
}

int CWAVCreator::Finish() {
    if (!IsOpen)
        return 0;
    if (WriteHeader) {
        // Sizes come from the real length, so a failed block still leaves a consistent file.
        const int64_t length = File.Size();
        if (length >= static_cast<int64_t>(ZrWavHeaderBytes)) {
            const uint32_t l = static_cast<uint32_t>(length);
            uint8_t field[4];
            StoreLE32(field, l - 8);
            PatchField(ZrWavRiffSizeOffset, field);
            StoreLE32(field, l - 44);
            PatchField(ZrWavDataSizeOffset, field);
        }
    }
    CloseOutput();
    return 0;
}
