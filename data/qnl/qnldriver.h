// The "QUARNELL" driver: the record-file interface over native indexed files (".QNL").
#pragma once
#include "data/driver.h"
#include "data/qnl/schema.h"

#include <functional>
#include <memory>
#include <string>

namespace sorv {

std::shared_ptr<Driver> makeQuarnellDriver();

namespace qnl {

constexpr const char* DriverName = "QUARNELL";
constexpr const char* DriverDescription = "Quarnell (QNL)";
constexpr const char* DriverModule = "B5QNL.DLL";
constexpr const char* CorruptionTitle = "Quarnell File Driver Error";
constexpr int CorruptionMessage = 4101;

// The declaration a program gives, as a file stores it.
Schema schemaOf(const FileDecl& file);

// Where damaged files are reported: the title "Quarnell File Driver Error" and the text
// "Possible data corruption in file (n)". The desktop installs one that shows a message; the
// default keeps quiet. Replacement messages held by the runtime (number 4101 replaces the text
// before " (n)") are set with setReplacementMessage.
void setCorruptionReporter(std::function<void(const std::string& title, const std::string& text)> reporter);
void setReplacementMessage(int number, std::string text);
// The text of a report for internal error n (what the reporter is given).
std::string corruptionText(int n);

} // namespace qnl

} // namespace sorv
