#include "tools/DeviceLog.h"

#include "tools/Cp1251.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <tuple>

namespace SimDevice {

namespace {

// mt19937's output is fixed by the standard, the distributions' is not: draw
// with a plain modulo so a seed gives the same log everywhere.
class Draw {
public:
    explicit Draw(uint32_t Seed) : FEngine(Seed) {}
    int32_t Between(int32_t Low, int32_t High)
    {
        return Low + static_cast<int32_t>(FEngine() % static_cast<uint32_t>(High - Low + 1));
    }
    template <typename T, size_t N>
    const T& Pick(const std::array<T, N>& Items)
    {
        return Items[FEngine() % N];
    }

private:
    std::mt19937 FEngine;
};

// The values come as a braced list so that they are drawn left to right.
template <size_t N>
std::string Format(const char* Pattern, const int32_t (&Values)[N])
{
    std::array<char, 256> text{};
    const auto print = [&](auto... Value) { std::snprintf(text.data(), text.size(), Pattern, Value...); };
    std::apply(print, std::to_array(Values));
    return text.data();
}

constexpr std::array<std::string_view, 9> Users = {
    "Оператор", "Администратор", "Наладчик", "Поверитель", "Инженер КИПиА", "Диспетчер", "Admin", "Service", "Гость",
};

std::string Action(Draw& D)
{
    switch (D.Between(0, 21)) {
    case 0: return Format("вход в систему (уровень %d)", {D.Between(1, 3)});
    case 1: return "выход из системы";
    case 2: return Format("неверный пароль (попытка %d)", {D.Between(1, 3)});
    case 3:
        return Format("изменение уставки P%d: %d,%d -> %d,%d кПа",
                      {D.Between(1, 4), D.Between(0, 99), D.Between(0, 9), D.Between(0, 99), D.Between(0, 9)});
    case 4:
        return Format("изменение уставки T%d: %d -> %d °C", {D.Between(1, 3), D.Between(-20, 90), D.Between(-20, 90)});
    case 5: return Format("корректировка времени %+d с", {D.Between(-59, 59)});
    case 6: return Format("смена пароля уровня %d", {D.Between(1, 3)});
    case 7: return "сброс архива событий";
    case 8: return "просмотр журнала действий";
    case 9:
        return Format("калибровка канала T%d, смещение %d,%02d", {D.Between(1, 4), D.Between(0, 2), D.Between(0, 99)});
    case 10: return "включение питания";
    case 11:
        return Format("отключение питания (длительность %02d:%02d:%02d)",
                      {D.Between(0, 23), D.Between(0, 59), D.Between(0, 59)});
    case 12: return "подключение по USB";
    case 13: return Format("Modbus: адрес изменён %d -> %d", {D.Between(1, 247), D.Between(1, 247)});
    case 14: return Format("RS-485: скорость %d бит/с", {D.Pick(std::array{1200, 2400, 9600, 19200, 38400, 115200})});
    case 15: return Format("Firmware update V2.%02d -> V2.%02d", {D.Between(0, 13), D.Between(14, 20)});
    case 16: return Format("Ethernet: IP 192.168.%d.%d", {D.Between(0, 9), D.Between(2, 254)});
    case 17: return "Tamper: вскрытие корпуса";
    case 18: return Format("ошибка связи с модулем №%d", {D.Between(1, 8)});
    case 19: return "«Настройки» сохранены";
    case 20: return "экспорт архива на USB-накопитель — OK";
    default: return Format("Login from 10.0.%d.%d (web)", {D.Between(0, 255), D.Between(1, 254)});
    }
}

std::string Detail(Draw& D)
{
    switch (D.Between(0, 12)) {
    case 8: return Format("; температура %d °C", {D.Between(-30, 60)});
    case 9: return Format("; давление %d,%d кПа", {D.Between(90, 110), D.Between(0, 9)});
    case 10: return Format("; сеанс №%d", {D.Between(1, 9999)});
    case 11: return Format("; ошибок: %d", {D.Between(0, 12)});
    case 12: return Format("; напряжение %d,%d В", {D.Between(3, 24), D.Between(0, 9)});
    case 0: return Format("; канал %d", {D.Between(1, 16)});
    case 1: return Format("; код 0x%02X", {D.Between(0, 255)});
    case 2: return "; подтверждено";
    case 3: return "; status=OK";
    case 4: return "; источник: панель";
    case 5: return "; источник: Modbus";
    case 6: return Format("; счётчик %d", {D.Between(0, 99999)});
    default: return "; примечание: плановая проверка";
    }
}

// Lengthens with details, then cuts, to exactly Target bytes.
void Fit(Bytes& Record, size_t Target, Draw& D)
{
    while (Record.size() < Target) {
        const Bytes more = Utf8ToCp1251(Detail(D));
        Record.insert(Record.end(), more.begin(), more.end());
    }
    Record.resize(Target);
}

std::string Timestamp(std::chrono::sys_seconds Time)
{
    using namespace std::chrono;
    const auto day = floor<days>(Time);
    const year_month_day date{day};
    const hh_mm_ss clock{Time - day};
    return Format("%02d.%02d.%04d %02d:%02d:%02d",
                  {static_cast<int32_t>(static_cast<unsigned>(date.day())),
                   static_cast<int32_t>(static_cast<unsigned>(date.month())), static_cast<int32_t>(date.year()),
                   static_cast<int32_t>(clock.hours().count()), static_cast<int32_t>(clock.minutes().count()),
                   static_cast<int32_t>(clock.seconds().count())});
}

void CheckRange(const LengthRange& Range)
{
    if (Range.Min > Range.Max || Range.Max > MaxRecordLength)
        throw std::invalid_argument("record lengths must satisfy min <= max <= 250");
}

} // namespace

std::vector<Bytes> GenerateLog(size_t Count, uint32_t Seed, const std::optional<LengthRange>& Range)
{
    using namespace std::chrono;
    if (Range) CheckRange(*Range);
    Draw d(Seed);
    sys_seconds time = sys_days{year{2025} / September / 1} + hours{7} + minutes{d.Between(0, 59)};
    std::vector<Bytes> records;
    records.reserve(Count);
    for (size_t i = 0; i < Count; ++i) {
        time += seconds{d.Between(0, 9) < 7 ? d.Between(5, 900) : d.Between(900, 6 * 3600)};
        const std::string_view user = d.Pick(Users);
        Bytes record = Utf8ToCp1251(Timestamp(time) + " " + std::string(user) + ": " + Action(d));
        if (Range)
            Fit(record,
                static_cast<size_t>(d.Between(static_cast<int32_t>(Range->Min), static_cast<int32_t>(Range->Max))), d);
        else if (record.size() > MaxRecordLength)
            record.resize(MaxRecordLength);
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<Bytes> ReadRecordsFile(const std::string& Path, const LengthRange& Range, uint32_t Seed)
{
    CheckRange(Range);
    std::ifstream in(Path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + Path);
    Draw d(Seed);
    std::vector<Bytes> records;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Bytes record = Utf8ToCp1251(line);
        Fit(record, std::clamp(record.size(), Range.Min, Range.Max), d);
        records.push_back(std::move(record));
    }
    if (in.bad()) throw std::runtime_error("cannot read " + Path);
    return records;
}

void WriteDump(const std::string& Path, const std::vector<Bytes>& Records)
{
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    for (const auto& record : Records) out << Cp1251ToUtf8(record) << '\n';
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + Path);
}

} // namespace SimDevice
