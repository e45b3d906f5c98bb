// The control's timing and limits, each in the unit the platform call takes.
#pragma once

#include "windef.h"

// Completion polling: timer 1 polls every 50 ms for the first phase and gives up at its 21st
// failed tick; timer 2 then polls every 10 ms until the picture arrives or the window goes.
constexpr UINT_PTR kFirstPhaseTimerId = 1;
constexpr UINT kFirstPhasePeriodMs = 50;
constexpr int kFirstPhaseFailedTicks = 20;  // the tick after these ends the first phase
constexpr UINT_PTR kSecondPhaseTimerId = 2;
constexpr UINT kSecondPhasePeriodMs = 10;

// A stored picture modified at most this many whole seconds ago is shown without a download.
constexpr long long kFreshnessSeconds = 60;

// "http://%s/c_avatar/": the server's directory of default pictures, kept encoded.
constexpr char kServerUrlTemplateBase64[] = "aHR0cDovLyVzL2NfYXZhdGFyLw==";
