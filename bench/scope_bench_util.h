// Shared pieces of the scope benchmarks: a scope that opens the protected
// operations, and a reporter that turns run times into ratios.
#pragma once

#include "imgscope/scope/base_scope.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace scopebench {

// A scope that reaches the protected layer operations, as the typed scopes do.
class CBenchScope : public img::CBaseScope {
public:
    explicit CBenchScope(img::CImg img) : img::CBaseScope(img) {}
    using img::CBaseScope::CreateGroup;
    using img::CBaseScope::FindPlaneID;
    using img::CBaseScope::GetLayers;
    using img::CBaseScope::GetPixelCoords;
    using img::CBaseScope::InsertLayer;
    using img::CBaseScope::Lcs2Pixel;
    using img::CBaseScope::MoveLayer;
    using img::CBaseScope::ResetFrameSelection;
    using img::CBaseScope::SelectFrameRange;
    using img::CBaseScope::SetCanvasPlacement;
    using img::CBaseScope::SetPixelCoords;
};

// Reports to the console as usual and keeps each run's time per iteration
// by benchmark name, so that a program can print its figures as ratios to
// a baseline of the same run.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    enum ETime { eCpuTime, eRealTime };

    explicit CRatioReporter(ETime time) : m_time(time) {}

    void ReportRuns(std::vector<Run> const& runs) override
    {
        for (Run const& run : runs)
            if (!run.error_occurred && run.iterations > 0)
                m_times[run.benchmark_name()] =
                    m_time == eCpuTime ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    // Time of `name` over time of `baseline`; 0 when either did not run.
    double Ratio(std::string const& name, std::string const& baseline) const
    {
        auto a = m_times.find(name);
        auto b = m_times.find(baseline);
        return (a == m_times.end() || b == m_times.end() || b->second <= 0.0) ? 0.0 : a->second / b->second;
    }

private:
    ETime m_time;
    std::map<std::string, double> m_times;
};

}  // namespace scopebench
