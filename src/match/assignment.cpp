#include "match/assignment.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"

namespace quorix::match {

using core::NONE;

namespace {

// A perfect matching of the templates not yet fixed with the inputs not yet
// taken, kept up to date as templates are fixed one by one.
class Matching {
public:
    Matching(std::span<const std::uint8_t> possible, std::size_t n, std::uint64_t& steps)
        : steps_(steps), edges_start_(n + 1, 0), input_of_(n, NONE), template_of_(n, NONE), taken_(n, 0),
          seen_(n, 0) {
        for (std::size_t t = 0; t < n; ++t) {
            for (std::size_t j = 0; j < n; ++j)
                if (possible[t * n + j]) edges_.push_back(static_cast<std::uint32_t>(j));
            edges_start_[t + 1] = static_cast<std::uint32_t>(edges_.size());
        }
    }

    bool complete() {
        for (std::uint32_t t = 0; t < input_of_.size(); ++t)
            if (!augment_from(t)) return false;
        return true;
    }

    std::span<const std::uint32_t> inputs_of(std::uint32_t t) const {
        return {edges_.data() + edges_start_[t], edges_.data() + edges_start_[t + 1]};
    }
    bool taken(std::uint32_t j) const { return taken_[j] != 0; }

    // Fixes template t on input j when the templates after t can still all be
    // placed on the inputs left; otherwise changes nothing and says false.
    bool fix(std::uint32_t t, std::uint32_t j) {
        const std::uint32_t old_input = input_of_[t];
        if (old_input == j) {
            taken_[j] = 1;
            return true;
        }
        const std::uint32_t displaced = template_of_[j];
        if (displaced == NONE || old_input == NONE) internal_error("模板配对不完整");
        input_of_[t] = j;
        template_of_[j] = t;
        taken_[j] = 1;
        input_of_[displaced] = NONE;
        template_of_[old_input] = NONE;
        // The displaced template must reach the input t gave up, the only free one.
        if (augment_from(displaced)) return true;
        taken_[j] = 0;
        input_of_[t] = old_input;
        template_of_[old_input] = t;
        input_of_[displaced] = j;
        template_of_[j] = displaced;
        return false;
    }

    std::vector<std::uint64_t> assignment() const { return {input_of_.begin(), input_of_.end()}; }

private:
    bool augment_from(std::uint32_t t) {
        std::fill(seen_.begin(), seen_.end(), 0);
        return augment(t);
    }

    // An alternating path from template t to a free input over inputs not taken;
    // the matching changes only along a path that is found.
    bool augment(std::uint32_t t) {
        for (std::uint32_t j : inputs_of(t)) {
            ++steps_;
            if (taken_[j] || seen_[j]) continue;
            seen_[j] = 1;
            if (template_of_[j] == NONE || augment(template_of_[j])) {
                input_of_[t] = j;
                template_of_[j] = t;
                return true;
            }
        }
        return false;
    }

    std::uint64_t& steps_;
    std::vector<std::uint32_t> edges_, edges_start_;
    std::vector<std::uint32_t> input_of_, template_of_;
    std::vector<std::uint8_t> taken_, seen_;
};

}  // namespace

std::optional<std::vector<std::uint64_t>> first_assignment(std::span<const std::uint8_t> possible, std::size_t n,
                                                           std::uint64_t& steps) {
    if (possible.size() != n * n) internal_error("配对表大小不符");
    Matching m(possible, n, steps);
    if (!m.complete()) return std::nullopt;
    // With a completion always in hand, the first input that keeps one is the
    // first that the plain depth-first search would have finished on.
    for (std::uint32_t t = 0; t < n; ++t) {
        bool fixed = false;
        for (std::uint32_t j : m.inputs_of(t)) {
            if (m.taken(j)) continue;
            if ((fixed = m.fix(t, j))) break;
        }
        if (!fixed) internal_error("模板配对不完整");
    }
    return m.assignment();
}

}  // namespace quorix::match
