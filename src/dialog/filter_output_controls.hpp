// The "Filter & Output" dialog's control ids: fixed numbers, shared with the test harness that
// finds the controls by them.
#pragma once

namespace qv {

// The address filter group.
inline constexpr int kFilterGroup = 1008;
inline constexpr int kFilterCheck = 1014;
inline constexpr int kZeroAddressCheck = 1011;
inline constexpr int kFromLabel = 1013;
inline constexpr int kFromField = 32100;
inline constexpr int kToLabel = 1015;
inline constexpr int kToField = 32200;

// The output group: the template, the legend of its placeholders, the number switch.
inline constexpr int kOutputGroup = 32207;
inline constexpr int kTemplateEdit = 1017;
inline constexpr int kLocalAddressPlaceholder = 1018;
inline constexpr int kLocalPortPlaceholder = 1019;
inline constexpr int kRemoteAddressPlaceholder = 1020;
inline constexpr int kRemotePortPlaceholder = 1021;
inline constexpr int kStatePlaceholder = 1022;
inline constexpr int kProcessIdPlaceholder = 1023;
inline constexpr int kProgramPlaceholder = 1024;
inline constexpr int kHostNamePlaceholder = 32208;
inline constexpr int kLocalAddressMeaning = 1025;
inline constexpr int kLocalPortMeaning = 32201;
inline constexpr int kRemoteAddressMeaning = 32202;
inline constexpr int kRemotePortMeaning = 32203;
inline constexpr int kStateMeaning = 32204;
inline constexpr int kProcessIdMeaning = 32205;
inline constexpr int kProgramMeaning = 32206;
inline constexpr int kHostNameMeaning = 32209;
inline constexpr int kNoZerosCheck = 32210;

inline constexpr int kOkayButton = 1016;

}  // namespace qv
