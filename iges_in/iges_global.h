// The global-section values of the IGES file being read, kept for the run,
// and the section counts of its terminate record.
#pragma once

#include <cstdint>

struct IgesGlobal {
  char paramDelimiter = ',';
  char recordDelimiter = ';';
  char senderProductId[80] = {};
  char fileName[256] = {};
  char nativeSystemId[80] = {};
  char preprocessorVersion[82] = {};
  std::int32_t integerBits = 0;
  std::int32_t singleMaxPower = 0;
  std::int32_t singleDigits = 0;
  std::int32_t doubleMaxPower = 0;
  std::int32_t doubleDigits = 0;
  char receiverProductId[80] = {};
  double modelScale = 1.0;
  std::int32_t unitsFlag = 0;
  char unitsName[8] = {};
  std::int32_t lineWeightGradations = 8;
  float maxLineWidth = 1.0f;
  char creationDate[20] = {};
  double minResolution = 0.0001;
  double maxCoordinate = 0.0;
  char authorName[160] = {};
  std::int32_t versionFlag = 0;
  std::int32_t draftingStandard = 0;
};

struct IgesCounts {
  std::int32_t startCount = 0;
  std::int32_t globalCount = 0;
  std::int32_t directoryCount = 0;
  std::int32_t parameterCount = 0;
  std::int32_t terminateCount = 0;
};
