// Installs a message-box sink that records every AfxMessageBox and answers with a fixed
// button; the sink in force before comes back when the recorder goes out of scope.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "afxmsgbox.h"
#include "platform/msgbox.h"

namespace portrix_test {

class MessageBoxRecorder {
public:
    struct Box {
        std::string text;
        UINT type;
        UINT helpId;
    };

    explicit MessageBoxRecorder(int answer = IDOK)
        : m_previous(
              platform::SetMessageBoxSink([this, answer](LPCTSTR text, UINT type, UINT helpId) {
                  std::lock_guard<std::mutex> guard(m_lock);
                  m_boxes.push_back(Box{text ? text : "", type, helpId});
                  return answer;
              })) {}
    ~MessageBoxRecorder() { platform::SetMessageBoxSink(m_previous); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<Box> boxes() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_boxes;
    }

private:
    mutable std::mutex m_lock;
    std::vector<Box> m_boxes;
    platform::MessageBoxSink m_previous;
};

}  // namespace portrix_test
