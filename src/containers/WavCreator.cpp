#include "containers/WavCreator.h"

#include "foundation/ZrByteOrder.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrWavHeader.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
    if (File.WriteAt(bytes, 4, offset) == 4)
        return true;
    Fail(ZrString::Format("Cannot write the header of \"%s\": %s", File.Path().ToUtf8().c_str(),
                          File.ErrorText().ToUtf8().c_str()));
    return false;
}

bool CWAVCreator::CloseOutput() {
    const bool closed = File.Close();
    BytesWritten = 0;
    IsOpen = false;
    return closed;
}

int CWAVCreator::CloseFinished(bool headerWritten) {
    // The close is where a full disk may show itself last; either failure leaves a file that
    // does not say what it holds.
    const ZrString path = File.Path();
    if (!CloseOutput() && headerWritten) {
        Fail(ZrString::Format("Cannot close \"%s\": %s", path.ToUtf8().c_str(),
                              File.ErrorText().ToUtf8().c_str()));
        return -1;
    }
    return headerWritten ? 0 : -1;
}

size_t CWAVCreator::HeaderBytes() const {
    return (m_rf64 ? ZrRf64HeaderBytes : ZrWavHeaderBytes) +
           (m_extensible ? ZrWavExtensibleExtraBytes : 0);
}

void CWAVCreator::BuildHeader(uint64_t length, bool rf64, uint8_t* out) const {
    ZrWavHeaderFields fields;
    fields.formatTag = Format.IsIeeeFloat() ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    fields.channels = Format.Channels;
    fields.samplesPerSec = Format.SamplesPerSec;
    fields.avgBytesPerSec = Format.AvgBytesPerSec;
    fields.blockAlign = Format.BlockAlign;
    fields.bitsPerSample = Format.BitsPerSample; // container width, a multiple of 8
    fields.extensible = m_extensible;
    fields.validBits = Format.ValidBitsPerSample ? Format.ValidBitsPerSample : Format.BitsPerSample;
    fields.channelMask = Format.ChannelMask;
    const uint64_t headerBytes = (rf64 ? ZrRf64HeaderBytes : ZrWavHeaderBytes) +
                                 (m_extensible ? ZrWavExtensibleExtraBytes : 0);
    const uint64_t data = length - headerBytes;
    if (rf64) {
        fields.rf64 = true;
        fields.riffSize = fields.dataSize = UINT32_MAX;
        fields.riffSize64 = length - 8;
        fields.dataSize64 = data;
        fields.sampleCount = Format.BlockAlign ? data / Format.BlockAlign : 0;
    } else {
        // Modulo 2^32 only for an expected size at the start; Finish never writes a wrapped one.
        fields.riffSize = static_cast<uint32_t>(length - 8);
        fields.dataSize = static_cast<uint32_t>(data);
    }
    ZrWriteWavHeader(fields, out);
}

bool CWAVCreator::ShiftData(uint64_t from, uint64_t length, uint64_t by) {
    std::vector<uint8_t> block(size_t{1} << 20);
    for (uint64_t end = length; end > from;) {
        const uint64_t n = std::min<uint64_t>(block.size(), end - from);
        end -= n;
        if (File.ReadAt(block.data(), n, end) != static_cast<int64_t>(n) ||
            File.WriteAt(block.data(), n, end + by) != static_cast<int64_t>(n)) {
            Fail(ZrString::Format("Cannot rewrite \"%s\" as RF64: %s", File.Path().ToUtf8().c_str(),
                                  File.ErrorText().ToUtf8().c_str()));
            return false;
        }
    }
    return true;
}

int CWAVCreator::Start(const ZrString& fileName, const ZrAudioFormat& format,
                       int64_t expectedBytes) {
    const uint64_t expected = static_cast<uint64_t>(std::max<int64_t>(expectedBytes, 0));
    if (!OpenOutput(fileName, format))
        return -1;
    if (WriteHeader) {
        // Readers take a plain record with more than two channels, or none, as their own default
        // layout; the extensible one says which speakers the channels are.
        const uint32_t plainMask =
            Format.Channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        m_extensible =
            Format.Channels > 2 || (Format.ChannelMask != 0 && Format.ChannelMask != plainMask);
        // Beyond 4 GiB the 32-bit sizes would wrap and the file would read back as a fraction
        // of itself: a file expected to be that large starts as RF64 (ds64 holds the sizes).
        m_rf64 = false;
        m_rf64 = expected + HeaderBytes() > PlainFileLimit;
        uint8_t header[ZrRf64HeaderBytes + ZrWavExtensibleExtraBytes];
        BuildHeader(expected + HeaderBytes(), m_rf64, header);
        // A destination that cannot take even the header fails the start, not the first block.
        if (!WriteBlock(header, HeaderBytes())) {
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
    if (!WriteHeader)
        return CloseFinished(true);
    // Sizes come from the real length, so a failed block still leaves a consistent file.
    const int64_t size = File.Size();
    if (size < static_cast<int64_t>(HeaderBytes())) {
        Fail(ZrString::Format("Cannot finish \"%s\": its header is incomplete",
                              File.Path().ToUtf8().c_str()));
        return CloseFinished(false);
    }
    uint64_t length = static_cast<uint64_t>(size);
    bool patched = true;
    if (!m_rf64 && length > PlainFileLimit) {
        // Data that grew past what a plain header can say: the file becomes RF64, its samples
        // moving up to make room for the ds64 chunk.
        patched = ShiftData(HeaderBytes(), length, ZrRf64HeaderBytes - ZrWavHeaderBytes);
        length += ZrRf64HeaderBytes - ZrWavHeaderBytes;
        m_rf64 = true;
    }
    uint8_t header[ZrRf64HeaderBytes + ZrWavExtensibleExtraBytes];
    BuildHeader(length, m_rf64, header);
    const size_t bytes = HeaderBytes();
    if (patched && File.WriteAt(header, bytes, 0) != static_cast<int64_t>(bytes)) {
        Fail(ZrString::Format("Cannot write the header of \"%s\": %s", File.Path().ToUtf8().c_str(),
                              File.ErrorText().ToUtf8().c_str()));
        patched = false;
    }
    m_rf64 = false;
    return CloseFinished(patched);
}
