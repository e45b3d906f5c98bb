// The dialog of the dialog benchmarks: one avatar control per user in a grid, each attached to a
// static child, set up for image type 1 of one server, none displayed yet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Portrix.h"
#include "platform/capture.h"
#include "platform/pump.h"
#include "windows.h"

// Each control's square and how many stand in a row.
constexpr int kGridSide = 16;
constexpr int kGridColumns = 25;

class ControlGrid {
public:
    ControlGrid(const char* title, int count, int firstUser, const std::string& server)
        : m_count(count) {
        const int rows = (count + kGridColumns - 1) / kGridColumns;
        m_window = ::CreateWindowExA(0, WC_DIALOG, title, WS_POPUP | WS_VISIBLE, 0, 0,
                                     kGridColumns * kGridSide, rows * kGridSide, nullptr, nullptr,
                                     nullptr, nullptr);
        for (int i = 0; i < count; ++i) {
            HWND child =
                ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE,
                                  i % kGridColumns * kGridSide, i / kGridColumns * kGridSide,
                                  kGridSide, kGridSide, m_window, nullptr, nullptr, nullptr);
            auto control = std::make_unique<CPortrix>();
            control->SubclassWindow(child);
            control->SetServerAddress(server.c_str());
            control->SetUserID(std::to_string(firstUser + i).c_str());
            control->SetImageType(1);
            m_controls.push_back(std::move(control));
        }
        platform::PumpPendingMessages();
    }
    ~ControlGrid() { ::DestroyWindow(m_window); }
    ControlGrid(const ControlGrid&) = delete;
    ControlGrid& operator=(const ControlGrid&) = delete;

    HWND Window() const { return m_window; }
    const std::vector<std::unique_ptr<CPortrix>>& Controls() const { return m_controls; }

    // The colour at the middle of each control; all ones where the window cannot be read.
    std::vector<uint32_t> Centres() const {
        std::vector<uint32_t> pixels;
        int width = 0, height = 0;
        std::vector<uint32_t> shown(static_cast<size_t>(m_count), 0xFFFFFFFFu);
        if (!platform::CaptureWindow(m_window, &pixels, &width, &height)) return shown;
        for (int i = 0; i < m_count; ++i) {
            const int x = i % kGridColumns * kGridSide + kGridSide / 2;
            const int y = i / kGridColumns * kGridSide + kGridSide / 2;
            if (x < width && y < height)
                shown[static_cast<size_t>(i)] = pixels[static_cast<size_t>(y * width + x)];
        }
        return shown;
    }

private:
    int m_count;
    HWND m_window = nullptr;
    std::vector<std::unique_ptr<CPortrix>> m_controls;
};
