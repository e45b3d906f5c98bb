#include "ServerProbe.h"

namespace demo {

ServerProbe::ServerProbe(const std::string& address, std::chrono::milliseconds timeout) {
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    const std::string url = "http://" + address + "/";
    const bool ok = multi_ != nullptr && easy_ != nullptr &&
                    curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
                    curl_easy_setopt(easy_, CURLOPT_CONNECT_ONLY, 1L) == CURLE_OK &&
                    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                                     static_cast<long>(timeout.count())) == CURLE_OK &&
                    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_) == CURLE_OK &&
                    curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    done_ = !ok;  // not known to be unreachable: the download library may still get through
}

ServerProbe::~ServerProbe() {
    if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

bool ServerProbe::Step() {
    if (done_) return true;
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        done_ = true;
        const CURLcode result = message->data.result;
        if (result != CURLE_OK) failure_ = error_[0] != '\0' ? error_ : curl_easy_strerror(result);
    }
    return done_;
}

}  // namespace demo
