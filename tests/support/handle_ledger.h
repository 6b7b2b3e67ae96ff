// HandleLedger: what a test's platform fakes opened and closed, so a test can state the one
// behaviour that matters about handles: everything opened is closed exactly once, and nothing
// that was not opened is closed. It serves every kind (registry keys, file and find handles,
// device handles, BSTRs, COM pointers): a fake records an open when it hands a value out and a
// close when one comes back. Its answer is plain text, free of any test framework, so that fuzz
// drivers and tools use it too: a test states `EXPECT_EQ("", ledger.Faults())`.
#pragma once

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

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

    // Empty when everything opened was closed once and nothing else was closed; else each
    // fault, followed by "; ".
    std::string Faults() const {
        std::string text;
        for (const std::string& fault : faults_) text += fault + "; ";
        for (const auto& entry : states_) {
            if (entry.second.open) text += Describe("left open", entry.first) + "; ";
        }
        return text;
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
