#include "keeper/history_text.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "os/process.h"
#include "store/history.h"
#include "keeper/book.h"

namespace {

// Reads "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD HH:MM" or, with `dateAlone`,
// "YYYY-MM-DD", and nothing after it. The year has four digits: "26-01-31"
// is no date (read as the year 26 it would lie before every version).
bool ReadTime(const std::string& text, std::tm& tm, bool dateAlone) {
    if (text.size() < 5 || text[4] != '-' ||
        !std::all_of(text.begin(), text.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }) || text[0] == '0')
        return false;
    const char* s = text.c_str();
    const int length = static_cast<int>(text.size());
    int used = -1;
    tm = {};
    bool read = std::sscanf(s, "%4d-%2d-%2d %2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                            &tm.tm_sec, &used) == 6 && used == length;
    if (!read) {
        tm = {}, used = -1;
        read = std::sscanf(s, "%4d-%2d-%2d %2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                           &used) == 5 && used == length;
    }
    if (!read && dateAlone) {
        tm = {}, used = -1;
        read = std::sscanf(s, "%4d-%2d-%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &used) == 3 && used == length;
    }
    if (!read) return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return true;
}

std::string Format(const std::tm& tm) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

}  // namespace

std::string LocalTimeOf(const std::string& utc) {
    std::tm tm{};
    if (!ReadTime(utc, tm, false)) return utc;
    return Format(LocalCalendar(TimeOfUtc(tm)));
}

std::optional<std::string> UtcOfLocal(const std::string& text) {
    std::tm tm{};
    if (!ReadTime(text, tm, true)) return std::nullopt;
    const std::tm asked = tm;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    // mktime turns 2월 30일 into 3월 2일; such a date is refused, not moved.
    if (t == static_cast<std::time_t>(-1) || tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon ||
        tm.tm_mday != asked.tm_mday || asked.tm_hour > 23 || asked.tm_min > 59 || asked.tm_sec > 59)
        return std::nullopt;
    return Format(UtcCalendar(t));
}

std::string UnkeptWarning(const std::string& name, long count) {
    if (count <= 0) return {};
    return "주의: " + ShownName(name) + "의 도장 " + std::to_string(count) +
           "개는 그림이 16 MiB보다 커서 기록에 그림을 보관하지 않았습니다 (크기와 시각만 남았습니다). 되돌릴 수 없습니다.";
}

std::string NoHistoryMessage(Database& db, const std::string& path) {
    if (IsHistoryTable(db)) return {};
    if (HasHistory(db))
        return HistoryFaults(db).front() + " 그 표를 다른 이름으로 옮긴 뒤 'kaldoria-db history " + path +
               " --enable'로 기록을 켜십시오.";
    return "데이터베이스 '" + path + "'에는 기록(pic_history)이 없습니다. 'kaldoria-db history " + path +
           " --enable'로 켜면 그 뒤로 바뀌거나 지워지는 도장이 기록됩니다.";
}
