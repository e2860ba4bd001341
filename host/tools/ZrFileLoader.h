// The file loader on libcurl: http, https and file addresses; redirects are followed between
// http and https only. An HTTP status of 400 or more fails the load with the status in the
// reason. The transfer runs on the calling thread; the abort flag is looked at every 50 ms at
// least, so a cancelled load returns within 100 ms even while no data flows.
#pragma once

#include "tessary/ZrToolsServices.h"

class ZrFileLoader final : public IZrFileLoader {
public:
    static ZrFileLoader& Instance();

    bool Load(const char16_t* address, IZrDataSink* sink, const std::atomic<int32_t>* abort,
              ZrSysString* errorText) override;
};
