#include "jet/format.h"

namespace jet {

const Format& jet3Format()
{
    static const Format f = [] {
        Format x{};
        x.version = Version::Jet3;
        x.pageSize = 2048;
        x.maxFileSize = 1ull << 30;
        x.headerObfuscatedLength = 126;
        x.passwordLength = 20;
        x.dataRowCountOffset = 8;
        x.dataHeaderSize = 10;
        x.maxRowsPerPage = 255;
        x.tdefRowCount = 12;
        x.tdefAutoNumber = 16;
        x.tdefTableType = 20;
        x.tdefMaxColumns = 21;
        x.tdefVarColumns = 23;
        x.tdefColumnCount = 25;
        x.tdefLogicalIndexCount = 27;
        x.tdefPhysicalIndexCount = 31;
        x.tdefOwnedMap = 35;
        x.tdefFreeMap = 39;
        x.tdefHeaderEnd = 43;
        x.tdefContinuationStart = 8;
        x.physicalIndexCountEntrySize = 8;
        x.columnDescriptorSize = 18;
        x.physicalIndexDefSize = 39;
        x.logicalIndexDefSize = 20;
        x.colNumber = 1;
        x.colVarIndex = 3;
        x.colNumber2 = 5;
        x.colPrecision = 7;
        x.colScale = 8;
        x.colSortOrder = 9;
        x.colCodePage = 11;
        x.colFlags = 13;
        x.colExtFlags = 0;
        x.colFixedOffset = 14;
        x.colLength = 16;
        x.inlineMapBytes = 128;
        x.lvalSingleMax = 2048 - 10 - 2 - 4;
        x.lvalChainChunk = 2048 - 10 - 2 - 4 - 4; // less the next-row pointer
        x.indexEntriesOffset = 0xF8;
        return x;
    }();
    return f;
}

const Format& jet4Format()
{
    static const Format f = [] {
        Format x{};
        x.version = Version::Jet4;
        x.pageSize = 4096;
        x.maxFileSize = 1ull << 31;
        x.headerObfuscatedLength = 128;
        x.passwordLength = 40;
        x.dataRowCountOffset = 12;
        x.dataHeaderSize = 14;
        x.maxRowsPerPage = 255;
        x.tdefRowCount = 16;
        x.tdefAutoNumber = 20;
        x.tdefTableType = 40;
        x.tdefMaxColumns = 41;
        x.tdefVarColumns = 43;
        x.tdefColumnCount = 45;
        x.tdefLogicalIndexCount = 47;
        x.tdefPhysicalIndexCount = 51;
        x.tdefOwnedMap = 55;
        x.tdefFreeMap = 59;
        x.tdefHeaderEnd = 63;
        x.tdefContinuationStart = 8;
        x.physicalIndexCountEntrySize = 12;
        x.columnDescriptorSize = 25;
        x.physicalIndexDefSize = 52;
        x.logicalIndexDefSize = 28;
        x.colNumber = 5;
        x.colVarIndex = 7;
        x.colNumber2 = 9;
        x.colPrecision = 11;
        x.colScale = 12;
        x.colSortOrder = 11;
        x.colCodePage = 0;
        x.colFlags = 15;
        x.colExtFlags = 16;
        x.colFixedOffset = 21;
        x.colLength = 23;
        x.inlineMapBytes = 64;
        x.lvalSingleMax = 4096 - 14 - 2 - 4;
        x.lvalChainChunk = 4096 - 14 - 2 - 4 - 4;
        x.indexEntriesOffset = 0x1E0;
        return x;
    }();
    return f;
}

} // namespace jet
