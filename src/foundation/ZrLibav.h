// The FFmpeg libraries (libavutil, libavcodec, libavformat, libswresample), opened by soname on
// first use and resolved once per process. Linked at load time they would cost every process that
// loads us their hundred-odd dependencies, whether it ever decodes or encodes through them or not.
//
//     std::string why;
//     const ZrLibav* av = ZrLibav::Open(ZrLibav::Codec, &why);
//     if (!av)
//         return Fail(why);               // "cannot load libavcodec.so.59: ..."
//     AVPacket* packet = av->av_packet_alloc();
//
// Callers keep the pointer and call through it: the hot path pays one indirect call and nothing
// else. A function the code needs is one line in ZR_LIBAV_FUNCTIONS.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/macros.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "foundation/ZrSharedLibrary.h"

#include <memory>
#include <mutex>
#include <string>

// X(library, function): every function called through the table, with the library that
// exports it.
#define ZR_LIBAV_FUNCTIONS(X)                                                                      \
    X(Util, av_channel_layout_copy)                                                                \
    X(Util, av_channel_layout_default)                                                             \
    X(Util, av_channel_layout_uninit)                                                              \
    X(Util, av_dict_get)                                                                           \
    X(Util, av_frame_alloc)                                                                        \
    X(Util, av_frame_free)                                                                         \
    X(Util, av_frame_get_buffer)                                                                   \
    X(Util, av_frame_make_writable)                                                                \
    X(Util, av_get_bytes_per_sample)                                                               \
    X(Util, av_get_packed_sample_fmt)                                                              \
    X(Util, av_log_set_callback)                                                                   \
    X(Util, av_rescale_q)                                                                          \
    X(Util, av_sample_fmt_is_planar)                                                               \
    X(Util, av_strerror)                                                                           \
    X(Codec, av_packet_alloc)                                                                      \
    X(Codec, av_packet_free)                                                                       \
    X(Codec, av_packet_unref)                                                                      \
    X(Codec, avcodec_alloc_context3)                                                               \
    X(Codec, avcodec_find_encoder)                                                                 \
    X(Codec, avcodec_free_context)                                                                 \
    X(Codec, avcodec_open2)                                                                        \
    X(Codec, avcodec_parameters_from_context)                                                      \
    X(Codec, avcodec_parameters_to_context)                                                        \
    X(Codec, avcodec_receive_frame)                                                                \
    X(Codec, avcodec_receive_packet)                                                               \
    X(Codec, avcodec_send_frame)                                                                   \
    X(Codec, avcodec_send_packet)                                                                  \
    X(Format, av_find_best_stream)                                                                 \
    X(Format, av_read_frame)                                                                       \
    X(Format, av_write_frame)                                                                      \
    X(Format, av_write_trailer)                                                                    \
    X(Format, avformat_alloc_output_context2)                                                      \
    X(Format, avformat_close_input)                                                                \
    X(Format, avformat_find_stream_info)                                                           \
    X(Format, avformat_free_context)                                                               \
    X(Format, avformat_new_stream)                                                                 \
    X(Format, avformat_open_input)                                                                 \
    X(Format, avformat_write_header)                                                               \
    X(Format, avio_closep)                                                                         \
    X(Format, avio_open)                                                                           \
    X(Format, avio_seek)                                                                           \
    X(Format, avio_size)                                                                           \
    X(Resample, swr_alloc_set_opts2)                                                               \
    X(Resample, swr_convert)                                                                       \
    X(Resample, swr_free)                                                                          \
    X(Resample, swr_get_out_samples)                                                               \
    X(Resample, swr_init)

class ZrLibav {
public:
    // Each library needs those before it: opening Format opens Util and Codec too, and
    // Resample (the sample-format converter) all three.
    enum Library { Util, Codec, Format, Resample, LibraryCount };

    // The process's table with `library` (and those it needs) opened and every function of
    // theirs resolved, on the first call for it. Null when a library or one of its functions is
    // missing; `why` (when given) then names it. Thread-safe; the table lives as long as the
    // process, and so does a failure (a later call gives the same reason without retrying).
    static const ZrLibav* Open(Library library, std::string* why = nullptr);
    // The process's table without opening anything: only the functions of libraries that Open
    // has succeeded for are set.
    static const ZrLibav& Loaded();

    // A table of its own over libraries of other names (to check what a missing library or
    // function reports).
    ZrLibav(const char* util, const char* codec, const char* format,
            const char* resample = "libswresample.so");
    ZrLibav(const ZrLibav&) = delete;
    ZrLibav& operator=(const ZrLibav&) = delete;
    // Opens up to `library` in this table; "" when it can be used, else why not.
    std::string Load(Library library);

    // The library's text for an AVERROR code.
    std::string ErrorText(int averror) const;

#define ZR_LIBAV_POINTER(library, name) decltype(&::name) name = nullptr;
    ZR_LIBAV_FUNCTIONS(ZR_LIBAV_POINTER)
#undef ZR_LIBAV_POINTER

private:
    std::string Resolve(Library library);

    std::mutex m_mutex;
    ZrSharedLibrary m_libraries[LibraryCount];
    const char* m_names[LibraryCount];
    bool m_ready[LibraryCount] = {};
    std::string m_errors[LibraryCount];
};

// Owners of the codec library's objects, freed through the process's table (the library must
// have been opened when they are filled).
struct ZrAvContextFree {
    void operator()(AVCodecContext* c) const { ZrLibav::Loaded().avcodec_free_context(&c); }
};
struct ZrAvFrameFree {
    void operator()(AVFrame* f) const { ZrLibav::Loaded().av_frame_free(&f); }
};
struct ZrAvPacketFree {
    void operator()(AVPacket* p) const { ZrLibav::Loaded().av_packet_free(&p); }
};
using ZrAvContextPtr = std::unique_ptr<AVCodecContext, ZrAvContextFree>;
using ZrAvFramePtr = std::unique_ptr<AVFrame, ZrAvFrameFree>;
using ZrAvPacketPtr = std::unique_ptr<AVPacket, ZrAvPacketFree>;
