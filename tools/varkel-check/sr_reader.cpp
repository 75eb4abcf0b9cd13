// A sigrok session file, read with libsigrok's own loader: the session's
// logic samples, turned into level changes at sample times.
#include <libsigrok/libsigrok.h>

#include <string>

#include "tools/varkel-check/capture.h"

namespace check {
namespace {

struct Feed {
    CaptureSink* sink;
    CaptureInfo* info;
    int bit[kLines] = {-1, -1, -1};  // each line's channel index
    std::uint64_t samples = 0;
    std::uint64_t samplerate = 0;
    int last[kLines] = {-1, -1, -1};
};

void OnPacket(const struct sr_dev_inst* /*device*/, const struct sr_datafeed_packet* packet, void* data) {
    Feed& feed = *static_cast<Feed*>(data);
    if (packet->type == SR_DF_META) {
        const auto* meta = static_cast<const sr_datafeed_meta*>(packet->payload);
        for (const GSList* l = meta->config; l != nullptr; l = l->next) {
            const auto* config = static_cast<const sr_config*>(l->data);
            if (config->key == SR_CONF_SAMPLERATE) {
                feed.samplerate = g_variant_get_uint64(config->data);
                feed.info->secondsPerTick = 1.0 / static_cast<double>(feed.samplerate);
            }
        }
        return;
    }
    if (packet->type != SR_DF_LOGIC) {
        return;
    }
    const auto* logic = static_cast<const sr_datafeed_logic*>(packet->payload);
    const auto* bytes = static_cast<const std::uint8_t*>(logic->data);
    for (std::uint64_t s = 0; s < logic->length / logic->unitsize; ++s, ++feed.samples) {
        const std::uint8_t* sample = bytes + s * logic->unitsize;
        for (int i = 0; i < kLines; ++i) {
            const int level = (sample[feed.bit[i] / 8] >> (feed.bit[i] % 8)) & 1;
            if (level != feed.last[i]) {
                feed.last[i] = level;
                feed.sink->Change(feed.samples, static_cast<Line>(i), level != 0 ? '1' : '0');
            }
        }
    }
}

}  // namespace

bool ReadSigrokSession(const std::string& path, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
                       std::string& error) {
    sr_log_loglevel_set(SR_LOG_NONE);  // this tool says what went wrong in one line of its own
    sr_context* context = nullptr;
    sr_session* session = nullptr;
    GSList* devices = nullptr;
    Feed feed{&sink, &info};
    bool ok = false;
    if (sr_init(&context) != SR_OK) {
        error = "cannot start the sigrok library to read " + path;
    } else if (sr_session_load(context, path.c_str(), &session) != SR_OK ||
               sr_session_dev_list(session, &devices) != SR_OK || devices == nullptr) {
        error = path + " is not a value change dump or a sigrok session file";
    } else {
        const auto* device = static_cast<const sr_dev_inst*>(devices->data);
        const std::string wanted[kLines] = {names.sclk, names.sfrm, names.txd};
        std::string seen;
        for (const GSList* l = sr_dev_inst_channels_get(device); l != nullptr; l = l->next) {
            const auto* channel = static_cast<const sr_channel*>(l->data);
            seen += (seen.empty() ? "" : ", ") + std::string(channel->name);
            for (int i = 0; i < kLines; ++i) {
                if (feed.bit[i] < 0 && channel->type == SR_CHANNEL_LOGIC && SameName(channel->name, wanted[i])) {
                    feed.bit[i] = channel->index;
                }
            }
        }
        for (int i = 0; i < kLines && error.empty(); ++i) {
            if (feed.bit[i] < 0) {
                error = MissingSignal(static_cast<Line>(i), wanted[i], path, seen);
            }
        }
        GVariant* rate = nullptr;
        if (error.empty() && sr_config_get(sr_dev_inst_driver_get(device), device, nullptr, SR_CONF_SAMPLERATE,
                                           &rate) == SR_OK) {
            feed.samplerate = g_variant_get_uint64(rate);
            info.secondsPerTick = 1.0 / static_cast<double>(feed.samplerate);
            g_variant_unref(rate);
        }
        if (error.empty()) {
            sr_session_datafeed_callback_add(session, OnPacket, &feed);
            if (sr_session_start(session) != SR_OK || sr_session_run(session) != SR_OK) {
                error = "cannot read the samples of " + path;
            } else if (feed.samples == 0 || feed.samplerate == 0) {
                error = path + " holds no samples";
            } else {
                ok = true;
            }
        }
    }
    for (const GSList* l = devices; l != nullptr; l = l->next) {
        sr_dev_close(static_cast<sr_dev_inst*>(l->data));  // the loader opened it; closing frees its state
    }
    g_slist_free(devices);
    if (session != nullptr) {
        sr_session_destroy(session);
    }
    if (context != nullptr) {
        sr_exit(context);
    }
    if (ok) {
        info.format = "sigrok session";
        info.secondsPerTick = 1.0 / static_cast<double>(feed.samplerate);
        info.resolution = std::to_string(feed.samplerate) + " samples a second";
        info.startTick = 0;
        info.endTick = feed.samples;
        sink.End(feed.samples);
    }
    return ok;
}

}  // namespace check
