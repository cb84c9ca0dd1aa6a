#include "bench/naive_writer.h"
#include "plugin/version.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

static std::string naive_escape(const char* text)
{
    std::string s = "\"";
    for (const char* p = text; *p != 0; p++) {
        unsigned char c = (unsigned char)*p;
        if (c == '"' || c == '\\') {
            s += '\\';
            s += (char)c;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            s += esc;
        } else {
            s += (char)c;
        }
    }
    return s + "\"";
}

std::string naive_render(const TelemetryState& s, uint32_t pid, uint64_t tick)
{
    std::ostringstream o;
    o << std::fixed << std::setprecision(2);
    o << "{\"plugin\":\"QAV\",\"version\":\"" QAV_VERSION "\",\"pid\":" << pid
      << ",\"written\":" << tick << ",\"game\":" << naive_escape(s.game)
      << ",\"gameVersion\":\"" << (s.gameVersion >> 16) << "." << (s.gameVersion & 0xFFFF)
      << "\",\"paused\":" << (s.paused ? "true" : "false") << ",\"gameTime\":" << s.gameTime
      << ",\"position\":{\"x\":" << s.position.x
      << ",\"y\":" << s.position.y << ",\"z\":" << s.position.z << "},\"speed\":" << s.speed;
    if (s.hasJob) {
        o << ",\"job\":{\"cargo\":" << naive_escape(s.cargo)
          << ",\"cargoId\":" << naive_escape(s.cargoId)
          << ",\"sourceCity\":" << naive_escape(s.sourceCity)
          << ",\"sourceCityId\":" << naive_escape(s.sourceCityId)
          << ",\"sourceCompany\":" << naive_escape(s.sourceCompany)
          << ",\"sourceCompanyId\":" << naive_escape(s.sourceCompanyId)
          << ",\"destinationCity\":" << naive_escape(s.destinationCity)
          << ",\"destinationCityId\":" << naive_escape(s.destinationCityId)
          << ",\"destinationCompany\":" << naive_escape(s.destinationCompany)
          << ",\"destinationCompanyId\":" << naive_escape(s.destinationCompanyId)
          << ",\"income\":" << s.income << std::setprecision(1)
          << ",\"cargoMass\":" << s.cargoMass << ",\"deliveryTime\":" << s.deliveryTime
          << ",\"plannedKm\":" << s.plannedKm << "}";
    } else {
        o << ",\"job\":null";
    }
    o << ",\"lastEvent\":" << naive_escape(s.lastEvent) << ",\"eventSeq\":" << s.eventSeq
      << "}\n";
    return o.str();
}

bool naive_publish(const std::string& doc, const std::string& temp, const std::string& final)
{
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        f << doc;
        f.close();
        if (!f) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, final, ec);
    return !ec;
}
