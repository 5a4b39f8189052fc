#include "support/ProgramDiff.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>

#include "support/LineBlanks.h"

namespace corvane {
namespace {

// Past this many edits between the common head and tail, the middle is reported as one
// change: the search costs time and memory with the square of the edits, and two programs
// that far apart are better read side by side than as a diff.
constexpr int MaxEdits = 2000;
constexpr size_t ContextLines = 3;

struct Line {
    std::string_view text; // as written, without its line end
    int key = 0;           // equal keys compare equal
    bool ignorable = false;
};

// What of a line is compared.
std::string comparedPart(std::string_view text, const CompareOptions& options) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (options.ignoreComments && text[i] == '(') {
            const size_t close = text.find(')', i + 1);
            if (close == std::string_view::npos)
                break;
            i = close;
            continue;
        }
        if (options.ignoreSpaces && (text[i] == ' ' || text[i] == '\t'))
            continue;
        out += text[i];
    }
    // Blanks before a line's words count, unless a comment in front of them was taken out.
    std::string_view part = out;
    while (!part.empty() && isLineBlank(part.back()))
        part.remove_suffix(1);
    return std::string(options.ignoreComments ? trimLineBlanks(part) : part);
}

class LineReader {
public:
    explicit LineReader(const CompareOptions& options) : m_options(options) {}

    std::vector<Line> read(std::string_view text, const std::vector<size_t>& setAside) {
        std::vector<Line> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view raw = text.substr(start, end - start);
            start = end + 1;
            if (!raw.empty() && raw.back() == '\r')
                raw.remove_suffix(1);
            const std::string part = comparedPart(raw, m_options);
            Line line{raw, 0, false};
            if (part.empty()) {
                const bool blank = trimLineBlanks(raw).empty();
                line.ignorable = blank ? m_options.ignoreBlankLines : m_options.ignoreComments;
            }
            if (std::find(setAside.begin(), setAside.end(), lines.size() + 1) != setAside.end())
                line.ignorable = true;
            // A line set aside equals no other: matched, it could pull the real lines out of
            // their pairs (an empty line between two versions of the same block).
            line.key = line.ignorable ? --m_unique : intern(part);
            lines.push_back(line);
        }
        return lines;
    }

private:
    int intern(const std::string& part) {
        const auto [it, added] = m_keys.emplace(part, static_cast<int>(m_keys.size()));
        return it->second;
    }

    const CompareOptions& m_options;
    std::unordered_map<std::string, int> m_keys;
    int m_unique = 0;
};

enum class Op { Equal, Delete, Insert };

struct Step {
    Op op;
    size_t oldLine; // lines of the older text before this step
    size_t newLine; // lines of the newer text before this step
};

// Myers' shortest edit script between a[0..n) and b[0..m), as Delete / Insert / Equal steps
// in order; positions are relative to the given offsets. False past MaxEdits.
bool shortestEdit(const std::vector<Line>& a, size_t aFrom, size_t n, const std::vector<Line>& b,
                  size_t bFrom, size_t m, std::vector<Op>& ops) {
    const int N = static_cast<int>(n);
    const int M = static_cast<int>(m);
    const int limit = std::min(N + M, MaxEdits);
    std::vector<int> v(2 * static_cast<size_t>(limit) + 3, 0);
    const int offset = limit + 1;
    // trace[d] holds v[-d..d] after step d, all the backward walk needs.
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= limit && found < 0; ++d) {
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                        ? v[offset + k + 1]
                        : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < N && y < M && a[aFrom + x].key == b[bFrom + y].key) {
                ++x;
                ++y;
            }
            v[offset + k] = x;
            if (x >= N && y >= M) {
                found = d;
                break;
            }
        }
        trace.emplace_back(v.begin() + offset - d, v.begin() + offset + d + 1);
    }
    if (found < 0)
        return false;

    std::vector<Op> reversed;
    int x = N;
    int y = M;
    for (int d = found; d > 0; --d) {
        const std::vector<int>& prev = trace[static_cast<size_t>(d - 1)];
        auto at = [&prev, d](int k) { return prev[static_cast<size_t>(k + d - 1)]; };
        const int k = x - y;
        const int prevK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        const int prevX = at(prevK);
        const int prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
            reversed.push_back(Op::Equal);
            --x;
            --y;
        }
        reversed.push_back(x == prevX ? Op::Insert : Op::Delete);
        x = prevX;
        y = prevY;
    }
    while (x > 0 && y > 0) {
        reversed.push_back(Op::Equal);
        --x;
        --y;
    }
    ops.insert(ops.end(), reversed.rbegin(), reversed.rend());
    return true;
}

std::vector<Step> editSteps(const std::vector<Line>& a, const std::vector<Line>& b) {
    // Most versions differ in a few lines somewhere in the middle: the common head and tail
    // are taken as they are, and only what lies between is searched.
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head].key == b[head].key)
        ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail].key == b[b.size() - 1 - tail].key)
        ++tail;
    const size_t n = a.size() - head - tail;
    const size_t m = b.size() - head - tail;

    std::vector<Op> ops(head, Op::Equal);
    if (!shortestEdit(a, head, n, b, head, m, ops)) {
        ops.insert(ops.end(), n, Op::Delete);
        ops.insert(ops.end(), m, Op::Insert);
    }
    ops.insert(ops.end(), tail, Op::Equal);

    std::vector<Step> steps;
    steps.reserve(ops.size());
    size_t oldLine = 0;
    size_t newLine = 0;
    for (Op op : ops) {
        steps.push_back({op, oldLine, newLine});
        if (op != Op::Insert)
            ++oldLine;
        if (op != Op::Delete)
            ++newLine;
    }
    return steps;
}

std::string range(size_t before, size_t count) {
    // A range of no lines names the line before it, as diff does.
    std::string out = std::to_string(count == 0 ? before : before + 1);
    if (count != 1)
        out += "," + std::to_string(count);
    return out;
}

} // namespace

ProgramComparison comparePrograms(std::string_view older, std::string_view newer,
                                  const CompareOptions& options, std::string_view olderLabel,
                                  std::string_view newerLabel,
                                  const std::vector<size_t>& setAside) {
    LineReader reader(options);
    const std::vector<Line> a = reader.read(older, {});
    const std::vector<Line> b = reader.read(newer, setAside);
    const std::vector<Step> steps = editSteps(a, b);

    // A run of changes between equal lines is one change; it counts only when some line of it
    // is not set aside.
    ProgramComparison result;
    std::vector<bool> counts(steps.size(), false);
    for (size_t i = 0; i < steps.size();) {
        if (steps[i].op == Op::Equal) {
            ++i;
            continue;
        }
        size_t end = i;
        size_t deleted = 0;
        size_t inserted = 0;
        size_t first = 0;
        for (; end < steps.size() && steps[end].op != Op::Equal; ++end) {
            const Step& s = steps[end];
            const bool ignorable =
                s.op == Op::Delete ? a[s.oldLine].ignorable : b[s.newLine].ignorable;
            if (ignorable)
                continue;
            const size_t line = s.newLine + 1;
            first = (deleted + inserted == 0) ? line : std::min(first, line);
            (s.op == Op::Delete ? deleted : inserted) += 1;
        }
        if (deleted + inserted > 0) {
            std::fill(counts.begin() + static_cast<long>(i),
                      counts.begin() + static_cast<long>(end), true);
            if (result.identical)
                result.firstDifference = first;
            result.identical = false;
            result.differingLines += std::max(deleted, inserted);
        }
        i = end;
    }
    if (result.identical)
        return result;

    // Hunks: every counted change with up to three steps around it, joined where they touch.
    std::vector<std::pair<size_t, size_t>> hunks;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (!counts[i])
            continue;
        size_t end = i;
        while (end < steps.size() && steps[end].op != Op::Equal)
            ++end;
        const size_t from = i > ContextLines ? i - ContextLines : 0;
        const size_t to = std::min(end + ContextLines, steps.size());
        if (!hunks.empty() && from <= hunks.back().second)
            hunks.back().second = to;
        else
            hunks.emplace_back(from, to);
        i = end;
    }

    std::string& out = result.unifiedDiff;
    out = "--- " + std::string(olderLabel) + "\n+++ " + std::string(newerLabel) + "\n";
    for (const auto& [from, to] : hunks) {
        size_t oldCount = 0;
        size_t newCount = 0;
        for (size_t i = from; i < to; ++i) {
            oldCount += steps[i].op != Op::Insert ? 1 : 0;
            newCount += steps[i].op != Op::Delete ? 1 : 0;
        }
        out += "@@ -" + range(steps[from].oldLine, oldCount) + " +" +
               range(steps[from].newLine, newCount) + " @@\n";
        for (size_t i = from; i < to; ++i) {
            const Step& s = steps[i];
            if (s.op == Op::Insert)
                out += "+" + std::string(b[s.newLine].text) + "\n";
            else
                out += (s.op == Op::Equal ? " " : "-") + std::string(a[s.oldLine].text) + "\n";
        }
    }
    return result;
}

std::optional<CompareOptions> parseCompareIgnore(std::string_view text, std::string* error) {
    CompareOptions options;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(", \t", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string word(text.substr(start, end - start));
        start = end + 1;
        for (char& c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word.empty() || word == "none")
            continue;
        if (word == "comments")
            options.ignoreComments = true;
        else if (word == "blank-lines")
            options.ignoreBlankLines = true;
        else if (word == "spaces")
            options.ignoreSpaces = true;
        else {
            if (error)
                *error = word;
            return std::nullopt;
        }
    }
    return options;
}

} // namespace corvane
