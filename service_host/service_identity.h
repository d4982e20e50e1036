#pragma once

// The names under which the service host registers and reports itself.
constexpr const char kServiceName[] = "KorvaneQuorvexAgent";
constexpr const char kDisplayName[] = "Korvane Quorvex Agent";
// The source of its events in the Application event log.
constexpr const char kEventSource[] = "KorvaneQuorvexAgent";
