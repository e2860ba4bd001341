// Runs an encoder program with its standard input on a pipe and feeds it audio.
//
// The program is started directly from an argument vector (the command line is split by the
// Windows rules), never through a shell. Every write runs on a short-lived thread that watches
// the child, so a child that dies or stalls can never hang the encoding thread; a child that
// ignores the end of its input is killed 10 s after Close and reaped.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "foundation/ZrString.h"
#include "foundation/ZrThread.h"

class CEncoderPipe {
public:
    CEncoderPipe() = default;
    CEncoderPipe(const CEncoderPipe&) = delete;
    CEncoderPipe& operator=(const CEncoderPipe&) = delete;
    virtual ~CEncoderPipe();

    // `commandLine`: the program (first token, quoted when it has blanks) and its arguments.
    // True when the child runs.
    bool Start(const ZrString& commandLine);
    // True only when every byte reached the child's input.
    bool Write(const void* buffer, uint32_t count);
    // Ends the child's input and waits for it (killing it after 10 s). Safe to call twice and
    // on a pipe that never started.
    void Close();

private:
    int m_readEnd = -1;
    int m_writeHandle = -1;
    pid_t m_process = 0;
    int m_processFd = -1; // pidfd of the child: readable once it has ended
};

// One blocking write into the pipe on its own thread; the constructor does the whole write.
class CEncoderPipeWriteThread : public ZrThread {
public:
    CEncoderPipeWriteThread(int writeHandle, const void* buffer, uint32_t count, int processFd);
    ~CEncoderPipeWriteThread() override;

    bool Written() const { return m_written; }

protected:
    bool Run() override;

private:
    int m_writeHandle;
    const void* m_buffer;
    uint32_t m_count;
    int m_processFd;
    bool m_written = false;
};
