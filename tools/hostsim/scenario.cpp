#include "tools/hostsim/scenario.h"

#include "tools/hostsim/hostsim.h"

#include "state/vocabulary.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstring>

namespace {

const double MAX_SECONDS = 86400.0; // a day of scenario is more than anyone watches

struct Token {
    std::string text;
    size_t equals; // where the first '=' outside quotes splits a key=value token, or npos
};

// What each command takes. Numbers must lie within [lo, hi], which a wrong one's message
// names; one bounded by infinities takes any number, nan, inf and -inf too. `job` and `load`
// take key=value arguments of their own and are parsed apart.
struct CommandRow {
    const char* name;
    int call; // a Call, or -1 for load
    size_t count;
    double lo, hi;
    const char* usage;
};

constexpr CommandRow COMMANDS[] = {
    {"load", -1, 0, 0, 0, ""},
    {"start", (int)Call::start, 0, 0, 0, "no arguments"},
    {"pause", (int)Call::pause, 0, 0, 0, "no arguments"},
    {"drive", (int)Call::drive, 1, -50, 250, "one number: the target speed in km/h"},
    {"heading", (int)Call::heading, 1, -360, 360, "one number: the heading in degrees"},
    {"position", (int)Call::position, 3, -HUGE_VAL, HUGE_VAL, "three numbers: x, y and z in metres"},
    {"speed", (int)Call::speed, 1, -HUGE_VAL, HUGE_VAL, "one number: the speed in m/s"},
    {"job", (int)Call::job, 0, 0, 0, ""},
    {"event", (int)Call::event, 1, 0, 0, "one identifier"},
    {"freeze", (int)Call::freeze, 1, 0, MAX_SECONDS, "one number: how long, in seconds"},
    {"shutdown", (int)Call::shutdown, 0, 0, 0, "no arguments"},
    {"crash", (int)Call::crash, 0, 0, 0, "no arguments"},
};

constexpr int call_rows()
{
    int last = -1;
    for (const CommandRow& row : COMMANDS) last = row.call > last ? row.call : last;
    return last + 1;
}
static_assert(call_rows() == CALL_KINDS, "CALL_KINDS must count every call a command makes");

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits a line into tokens: runs of bare characters and "quoted" parts, up to white space;
// a '#' at the start of a token begins a comment.
bool tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error)
{
    size_t i = 0, n = line.size();
    for (;;) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) i++;
        if (i == n || line[i] == '#') return true;
        Token t;
        t.equals = std::string::npos;
        bool quoted = false;
        while (i < n && line[i] != ' ' && line[i] != '\t') {
            char c = line[i++];
            if (c != '"') {
                if (c == '=' && !quoted && t.equals == std::string::npos) t.equals = t.text.size();
                t.text += c;
                continue;
            }
            quoted = true;
            for (;;) {
                if (i == n) {
                    *error = "a quoted text is not closed";
                    return false;
                }
                c = line[i++];
                if (c == '"') break;
                if (c != '\\') {
                    t.text += c;
                    continue;
                }
                char e = i < n ? line[i++] : 0;
                if (e == '\\' || e == '"') {
                    t.text += e;
                } else if (e == 'n') {
                    t.text += '\n';
                } else if (e == 't') {
                    t.text += '\t';
                } else if (e == 'x' && i + 1 < n && hex_digit(line[i]) >= 0 &&
                           hex_digit(line[i + 1]) >= 0) {
                    char byte = (char)(hex_digit(line[i]) * 16 + hex_digit(line[i + 1]));
                    i += 2;
                    if (byte == 0) {
                        *error = "\\x00 cannot be passed: the host's strings end at a NUL byte";
                        return false;
                    }
                    t.text += byte;
                } else {
                    *error = "unknown escape in a quoted text (use \\\\, \\\", \\n, \\t or \\xHH)";
                    return false;
                }
            }
        }
        tokens->push_back(t);
    }
}

bool parse_double(const std::string& s, double* out)
{
    const char* end = s.data() + s.size();
    std::from_chars_result r = std::from_chars(s.data(), end, *out);
    return !s.empty() && r.ec == std::errc() && r.ptr == end;
}

bool parse_finite(const std::string& s, double lo, double hi, double* out)
{
    return parse_double(s, out) && std::isfinite(*out) && *out >= lo && *out <= hi;
}

bool parse_unsigned(const std::string& s, uint64_t max, uint64_t* out)
{
    const char* end = s.data() + s.size();
    std::from_chars_result r = std::from_chars(s.data(), end, *out, 10);
    return !s.empty() && r.ec == std::errc() && r.ptr == end && *out <= max;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

// Whether the text is UTF-16, as some editors save "Unicode": a byte-order mark, or a NUL
// in every other byte of its start.
bool utf16(const std::string& text)
{
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) return true;
    size_t n = std::min<size_t>(text.size(), 64) & ~(size_t)1;
    bool even = n > 0, odd = n > 0;
    for (size_t i = 0; i < n; i += 2) {
        even = even && text[i] == 0 && text[i + 1] != 0;
        odd = odd && text[i + 1] == 0 && text[i] != 0;
    }
    return even || odd;
}

std::string attribute_names()
{
    std::string names;
    for (const VocabularyRow& row : JOB_ATTRIBUTES) {
        if (!names.empty()) names += ", ";
        names += row.host_name;
    }
    return names;
}

bool parse_attribute(const Token& t, JobAttribute* a, std::string* error)
{
    if (t.equals == std::string::npos) {
        *error = "job attribute " + quote(t.text) + " has no value; write name=value";
        return false;
    }
    a->name = t.text.substr(0, t.equals);
    std::string value = t.text.substr(t.equals + 1);
    const VocabularyRow* row = vocabulary_find(JOB_ATTRIBUTES, JOB_ATTRIBUTE_COUNT, a->name.c_str());
    if (row == nullptr) {
        *error = "unknown job attribute " + quote(a->name) + "; the attributes are " +
                 attribute_names();
        return false;
    }
    a->type = row->type;
    a->integer = 0;
    a->number = 0;
    if (row->type == HOST_TYPE_STRING) {
        a->text = value;
        return true;
    }
    if (row->type == HOST_TYPE_FLOAT) {
        // Not-a-number and infinities are allowed on purpose: a host may deliver them,
        // and a reader author may want to see how the document carries them.
        double d;
        if (parse_double(value, &d)) {
            a->number = (float)d;
            return true;
        }
        *error = "job attribute " + quote(a->name) + " needs a number, not " + quote(value);
        return false;
    }
    uint64_t max = row->type == HOST_TYPE_U32 ? UINT32_MAX : UINT64_MAX;
    if (parse_unsigned(value, max, &a->integer)) return true;
    *error = "job attribute " + quote(a->name) + " needs a whole number from 0 to " +
             std::to_string(max) + ", not " + quote(value);
    return false;
}

bool parse_load(const std::vector<Token>& args, Scenario* s, std::string* error)
{
    for (const Token& t : args) {
        std::string key = t.equals == std::string::npos ? t.text : t.text.substr(0, t.equals);
        std::string value = t.equals == std::string::npos ? "" : t.text.substr(t.equals + 1);
        uint64_t hex = 0;
        if (key == "interface") {
            if (value == "1.00") {
                s->interface_version = HOST_VERSION_1_00;
            } else if (value == "1.01") {
                s->interface_version = HOST_VERSION_1_01;
            } else if (value.size() > 2 && value.compare(0, 2, "0x") == 0 &&
                       std::from_chars(value.data() + 2, value.data() + value.size(), hex, 16).ptr ==
                           value.data() + value.size() &&
                       hex <= UINT32_MAX) {
                s->interface_version = (uint32_t)hex; // lets a scenario try a refused version
            } else {
                *error = "interface must be 1.00, 1.01 or a hexadecimal 0x number, not " +
                         quote(value);
                return false;
            }
        } else if (key == "game" && t.equals != std::string::npos) {
            s->game = value;
        } else if (key == "version") {
            size_t dot = value.find('.');
            uint64_t major, minor;
            if (dot == std::string::npos || !parse_unsigned(value.substr(0, dot), 0xFFFF, &major) ||
                !parse_unsigned(value.substr(dot + 1), 0xFFFF, &minor)) {
                *error = "version must be MAJOR.MINOR, each from 0 to 65535, not " + quote(value);
                return false;
            }
            s->game_version = (uint32_t)(major << 16 | minor);
        } else {
            *error = "'load' takes interface=, game= and version=, not " + quote(t.text);
            return false;
        }
    }
    return true;
}

bool parse_arguments(const CommandRow& command, const std::vector<Token>& args,
                     ScenarioLine* out, std::string* error)
{
    if (out->call == Call::job) {
        for (const Token& t : args) {
            JobAttribute a;
            if (!parse_attribute(t, &a, error)) return false;
            out->attributes.push_back(a);
        }
        return true;
    }
    std::string usage = quote(command.name) + " takes " + command.usage;
    if (args.size() != command.count) {
        *error = usage;
        return false;
    }
    if (out->call == Call::event) {
        out->id = args[0].text;
        return true;
    }
    for (size_t i = 0; i < command.count; i++) {
        if (std::isinf(command.lo)) {
            if (parse_double(args[i].text, &out->value[i])) continue;
            *error = usage + "; " + quote(args[i].text) + " is not a number (nan, inf and -inf "
                     "are allowed; a finite one lies within a double's range)";
            return false;
        }
        if (!parse_finite(args[i].text, command.lo, command.hi, &out->value[i])) {
            *error = usage + "; " + quote(args[i].text) + " is not a number from " +
                     number(command.lo) + " to " + number(command.hi);
            return false;
        }
    }
    return true;
}

const char TIME_USAGE[] = "a line starts with its time in seconds from 0 to 86400, a day "
                          "(like 2.5, or +0.5 after the previous line), not ";

// Everything the parser carries from one line to the next.
struct Parse {
    Scenario* out;
    bool any_call = false;
    double previous = 0;
    int end_line = 0;         // the shutdown or crash
    const char* ending = ""; // which of the two
};

// One line that is not blank: "" when it is right, else what is wrong with it.
std::string parse_line(Parse* p, const std::vector<Token>& tokens, int line_number)
{
    // A wrong shutdown is still the end: the file is not also told it has none.
    for (const char* ending : {"shutdown", "crash"}) {
        if (tokens.size() > 1 && tokens[1].text == ending) {
            p->end_line = line_number;
            p->ending = ending;
        }
    }
    const std::string& time = tokens[0].text;
    bool relative = !time.empty() && time[0] == '+';
    double at;
    if (!parse_finite(relative ? time.substr(1) : time, 0, MAX_SECONDS, &at)) {
        return TIME_USAGE + quote(time);
    }
    if (relative) at += p->previous;
    if (at < p->previous) {
        return "time " + quote(time) +
               " comes before the previous line's; lines must be in time order";
    }
    if (at > MAX_SECONDS) {
        return "a scenario lasts at most a day, 86400 s; this line comes at " + number(at) + " s";
    }
    p->previous = at;
    if (tokens.size() < 2) return "the time is not followed by a command";

    const std::string& name = tokens[1].text;
    const CommandRow* command = nullptr;
    for (const CommandRow& row : COMMANDS) {
        if (name == row.name) command = &row;
    }
    if (command == nullptr) {
        std::string names;
        for (const CommandRow& row : COMMANDS) names += std::string(names.empty() ? "" : ", ") + row.name;
        return "unknown command " + quote(name) + "; the commands are " + names;
    }
    std::vector<Token> args(tokens.begin() + 2, tokens.end());
    std::string message;
    if (command->call < 0) {
        if (p->any_call || at != 0) return "'load' must be the first call, at time 0";
        p->any_call = true;
        parse_load(args, p->out, &message);
        return message;
    }
    p->any_call = true;
    ScenarioLine l;
    l.line = line_number;
    l.value[0] = l.value[1] = l.value[2] = 0;
    l.at = at;
    l.call = (Call)command->call;
    if (!parse_arguments(*command, args, &l, &message)) return message;
    p->out->lines.push_back(l);
    return "";
}

} // namespace

const char* call_name(Call call)
{
    for (const CommandRow& row : COMMANDS) {
        if (row.call == (int)call) return row.name;
    }
    return "?";
}

bool parse_scenario(const std::string& text, Scenario* out, std::vector<ScenarioError>* errors)
{
    *out = Scenario();
    errors->clear();
    Parse p;
    p.out = out;
    auto fail = [&](int line, const std::string& message) {
        if (errors->size() < SCENARIO_ERRORS_KEPT) errors->push_back({line, escaped(message)});
    };
    if (utf16(text)) {
        fail(1, "the file is UTF-16 (some editors' \"Unicode\"): save it as UTF-8");
        return false;
    }
    size_t pos = 0;
    int number = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3; // a byte-order mark from Notepad
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        number++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) {
            fail(number, "the line holds a NUL byte");
            continue;
        }
        std::vector<Token> tokens;
        std::string message;
        if (!tokenize(line, &tokens, &message)) {
            fail(number, message);
            continue;
        }
        if (tokens.empty()) continue;
        if (p.end_line != 0) {
            // Every later line would be the same mistake: once is enough.
            fail(number, std::string("nothing may follow the ") + p.ending + " on line " +
                             std::to_string(p.end_line));
            break;
        }
        message = parse_line(&p, tokens, number);
        if (!message.empty()) fail(number, message);
    }
    if (p.end_line == 0) {
        fail(number == 0 ? 1 : number, "the scenario does not end with a 'shutdown' or 'crash' line");
    }
    return errors->empty();
}
