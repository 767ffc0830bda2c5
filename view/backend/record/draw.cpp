#include "view/backend/record/draw.hpp"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "environment/routines.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/draw/backend.hpp"
#include "view/backend/record/record.hpp"

namespace kel::view::record {
namespace {

bool begin_fails = false, push_fails = false;

std::string number(double v) {
    if (v == std::floor(v) && std::fabs(v) < 1e9) return std::to_string(int64_t(v));
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string point(draw::Point p) { return number(p.x) + "x" + number(p.y); }

// R.G.B, with the transparency as a fourth component when it is not 0.
std::string color(draw::Color c) {
    std::string s = std::to_string(c & 0xFF) + "." + std::to_string(c >> 8 & 0xFF) + "." +
                    std::to_string(c >> 16 & 0xFF);
    if (c >> 24) s += "." + std::to_string(c >> 24);
    return s;
}

std::string field_text(const Cell& object, const char* name) {
    const Cell* v = environment::field(object, name);
    if (!v) return "none";
    if (cell::is(v, type::string)) return "\"" + string::utf8_of(v) + "\"";
    if (cell::is(v, type::integer)) return std::to_string(cell::integer(v));
    if (word::any_word_q(cell::type_of(v))) return std::string(symbol::name(word::symbol(v)));
    return "none";
}

class Recorder : public draw::Backend {
public:
    bool begin(const Cell& face) override {
        bool ok = !begin_fails;
        begin_fails = false;
        std::string what = cell::is(&face, type::object) ? field_text(face, "type") : "image";
        append_log("draw begin " + what + (ok ? "" : " failed"));
        return ok;
    }
    void end() override { append_log("draw end"); }

    // A push that could not save the state is still paired with its pop,
    // which then only pops clips.
    void push_state() override {
        saved_.push_back(!push_fails);
        append_log(push_fails ? "draw push-state failed" : "draw push-state");
        push_fails = false;
    }
    void pop_state() override {
        bool ok = saved_.back();
        saved_.pop_back();
        append_log(ok ? "draw pop-state" : "draw pop-clips");
    }

    void pen(draw::Color c, bool off) override { append_log("draw pen " + (off ? "off" : color(c))); }
    void fill_pen(draw::Color c, bool off) override { append_log("draw fill-pen " + (off ? "off" : color(c))); }
    void line_width(double w) override { append_log("draw line-width " + number(w)); }
    void box(draw::Point a, draw::Point b, double radius) override {
        append_log("draw box " + point(a) + " " + point(b) + (radius != 0 ? " " + number(radius) : ""));
    }
    void font(const Cell& f) override {
        append_log("draw font " + field_text(f, "name") + " " + field_text(f, "size"));
    }
    void text(draw::Point at, const Cell& value) override {
        std::string what = cell::is(&value, type::string) ? "\"" + string::utf8_of(&value) + "\""
                                                          : field_text(value, "type");
        append_log("draw text " + point(at) + " " + what);
    }

private:
    std::vector<bool> saved_;
};

}  // namespace

int32_t draw(const Cell& face, const Cell& commands, draw::Options options) {
    Recorder recorder;
    return draw::draw_face(recorder, face, commands, options);
}

void fail_next_begin() { begin_fails = true; }
void fail_next_state_push() { push_fails = true; }

}  // namespace kel::view::record
