// HandleLedger: what a test's platform fakes opened and closed, so a test can state the one
// behaviour that matters about handles: everything opened is closed exactly once, and nothing
// that was not opened is closed. It serves every kind (registry keys, file and find handles,
// device handles, BSTRs, COM pointers): a fake records an open when it hands a value out and a
// close when one comes back.
#pragma once

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class HandleLedger {
public:
    void Opened(const void* value) {
        State& state = states_[value];
        if (state.open) faults_.push_back(Describe("opened again while still open", value));
        state.open = true;
        ++opens_;
    }
    void Closed(const void* value) {
        auto found = states_.find(value);
        if (found == states_.end()) {
            faults_.push_back(Describe("closed but never opened", value));
            return;
        }
        if (!found->second.open) {
            faults_.push_back(Describe("closed twice", value));
            return;
        }
        found->second.open = false;
    }
    bool IsOpen(const void* value) const {
        auto found = states_.find(value);
        return found != states_.end() && found->second.open;
    }
    int opens() const { return opens_; }
    int stillOpen() const {
        int count = 0;
        for (const auto& entry : states_) count += entry.second.open ? 1 : 0;
        return count;
    }

    // Everything opened was closed once; nothing else was closed.
    ::testing::AssertionResult Balanced() const {
        std::vector<std::string> faults = faults_;
        for (const auto& entry : states_) {
            if (entry.second.open) faults.push_back(Describe("left open", entry.first));
        }
        if (faults.empty()) return ::testing::AssertionSuccess();
        ::testing::AssertionResult result = ::testing::AssertionFailure();
        for (const std::string& fault : faults) result << fault << "; ";
        return result;
    }

private:
    struct State {
        bool open = false;
    };
    static std::string Describe(const char* what, const void* value) {
        char text[64];
        snprintf(text, sizeof(text), "%p %s", value, what);
        return text;
    }

    std::map<const void*, State> states_;
    std::vector<std::string> faults_;
    int opens_ = 0;
};
