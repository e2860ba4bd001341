// CWAVCreator: writes PCM into a canonical WAV file (the extensible record for more than two
// channels or a speaker mask other than the plain one), or as headerless raw PCM,
// optionally with 16- and 24-bit samples turned big-endian. AIFFCreator reuses its file handling
// and sample writing.
//
// Operations return 0 on success and -1 on failure. Write swaps the caller's buffer in place
// when BigEndian is set.
#pragma once

#include "foundation/ZrFile.h"
#include "foundation/ZrString.h"
#include "frame/ZrAudioFormat.h"

#include <cstdint>

class CWAVCreator {
public:
    CWAVCreator() = default;
    CWAVCreator(const CWAVCreator&) = delete;
    CWAVCreator& operator=(const CWAVCreator&) = delete;
    // Finishes an open file first, so that its header is patched.
    virtual ~CWAVCreator();

    // Opens `fileName` (creating its folders) and writes the header when WriteHeader is set.
    // `expectedBytes` below 0 counts as 0.
    int Start(const ZrString& fileName, const ZrAudioFormat& format, int64_t expectedBytes);
    int Write(uint8_t* data, uint64_t length);
    // Patches the header from the real file length and closes. -1 (with the reason kept) when
    // the header or the close failed, so that a caller never keeps a file that lies about itself.
    int Finish();

    const ZrAudioFormat& GetFormat() const noexcept { return Format; }
    // Why the last Start or Write failed, for the log ("" after success).
    const ZrString& FailureText() const noexcept { return m_failure; }

    bool WriteHeader = true; // write the header and patch it at the end
    bool BigEndian = false;  // swap 16- and 24-bit samples before writing
    // The largest file a plain RIFF header can describe; tests lower it to reach the RF64 path
    // without writing gigabytes.
    uint64_t PlainFileLimit = uint64_t{UINT32_MAX} + 8;

protected:
    // Start's shared steps: finish an open file, take the format in plain form, refuse what is
    // neither integer PCM nor float, make the folders, create and open the file.
    bool OpenOutput(const ZrString& fileName, const ZrAudioFormat& format);
    // Writes a whole header block; false (and the reason kept) on a short write.
    bool WriteBlock(const void* data, size_t length);
    // Writes a 32-bit field at an absolute offset; false (and the reason kept) when it fails.
    bool PatchField(uint64_t offset, const uint8_t bytes[4]);
    // Closes and releases the file; the writer is closed afterwards. False when the close failed.
    bool CloseOutput();
    // Finish's last step: closes the file; 0 only when the header was written and the close
    // succeeded, -1 with the reason kept otherwise.
    int CloseFinished(bool headerWritten);
    void Fail(const ZrString& reason) { m_failure = reason; }
    // The header for a file of `length` bytes, RF64 when `rf64`.
    void BuildHeader(uint64_t length, bool rf64, uint8_t* out) const;
    // Moves the sample data `by` bytes further into the file, from the end backwards.
    bool ShiftData(uint64_t from, uint64_t length, uint64_t by);

    ZrAudioFormat Format;
    uint64_t BytesWritten = 0;
    ZrFile File;
    bool IsOpen = false;

private:
    ZrString m_failure;
    bool m_rf64 = false;       // the header written at the start is the RF64 one
    bool m_extensible = false; // its format record is the extensible one
    size_t HeaderBytes() const;
};
