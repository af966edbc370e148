// One row of bench/run.sh's table, printed by every host benchmark:
// FIGURE|what|ours|peer|peer's figure|ratio|goal|verdict.
#pragma once

#include <cstdio>
#include <string>

inline void PrintFigure(const std::string& what, const std::string& ours, const std::string& peer,
                        const std::string& theirs, double ratio, const std::string& goal,
                        const char* verdict) {
  std::printf("FIGURE|%s|%s|%s|%s|%.3g|%s|%s\n", what.c_str(), ours.c_str(), peer.c_str(),
              theirs.c_str(), ratio, goal.c_str(), verdict);
}

inline void PrintFigure(const std::string& what, const std::string& ours, const std::string& peer,
                        const std::string& theirs, double ratio, const std::string& goal,
                        bool met) {
  PrintFigure(what, ours, peer, theirs, ratio, goal, met ? "met" : "MISSED");
}
