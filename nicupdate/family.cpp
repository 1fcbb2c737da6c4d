#include "nicupdate/family.h"

#include "common/banned.h"

// To add a component: a version field in Device, a row here, and a marker rule (and, for
// management firmware, a management entry) in each family below that lists it.
const Component c_components[] = {
    {"bc", &Device::bootVer, "BOOT", "----", nullptr, nullptr, nullptr, false},
    {"ipmi", &Device::ipmiVer, "IPMI", "----", "ipmi", "IPMI", "for", false},
    {"asf", &Device::asfVer, "ASF", "---", "asf", "ASF", "for device", true},
    {"mba", &Device::pxeVer, "PXE", "---", nullptr, nullptr, nullptr, false},
    {"ump", &Device::umpVer, "UMP", "---", "ump", "UMP", "for", false},
    {"ncsi", &Device::ncsiVer, "NCSI", "---", "ncsi", "NCSI", "for", false},
    {"ib", &Device::iscsiVer, "iSCSI", "---", nullptr, nullptr, nullptr, false},
};
const size_t c_componentCount = sizeof(c_components) / sizeof(c_components[0]);

const Component* componentOf(VersionField field) {
    for (const Component& c : c_components)
        if (c.field == field) return &c;
    return nullptr;
}

static const MarkerRule c_netXtremeRules[] = {
    {"ASFIPMI", nullptr, &Device::ipmiVer},
    {"UMP", nullptr, &Device::umpVer},
    {"BRCM ASF", nullptr, &Device::asfVer},
    {"PXE", nullptr, &Device::pxeVer},
};

static const MarkerRule c_netXtremeIIRules[] = {
    {" ipmi ", " IPMI ", &Device::ipmiVer}, {" UMP ", nullptr, &Device::umpVer},   {" mba ", " MBA ", &Device::pxeVer},
    {"NCSI_X", nullptr, &Device::ncsiVer},  {"ISCSI", nullptr, &Device::iscsiVer},
};

static const MgmtEntry c_netXtremeMgmt[] = {
    {&Device::asfVer, nullptr},
    {&Device::ipmiVer, nullptr},
    {&Device::umpVer, nullptr},
    {&Device::ncsiVer, nullptr},
};

// "NSCI": kept as shipped (logs and the fleet report rely on the text).
static const MgmtEntry c_netXtremeIIMgmt[] = {
    {&Device::ipmiVer, nullptr},
    {&Device::umpVer, nullptr},
    {&Device::ncsiVer, "NSCI"},
};

const Family c_netXtreme = {
    "NetXtreme",
    "lnxfwupg",
    "0>",
    {"BootCode", nullptr, &Device::bootVer},
    true,
    c_netXtremeRules,
    sizeof(c_netXtremeRules) / sizeof(c_netXtremeRules[0]),
    c_netXtremeMgmt,
    sizeof(c_netXtremeMgmt) / sizeof(c_netXtremeMgmt[0]),
};

const Family c_netXtremeII = {
    "NetXtreme II",
    "lnxfwnx2",
    "Quit",
    {"BC1", nullptr, &Device::bootVer},
    false,
    c_netXtremeIIRules,
    sizeof(c_netXtremeIIRules) / sizeof(c_netXtremeIIRules[0]),
    c_netXtremeIIMgmt,
    sizeof(c_netXtremeIIMgmt) / sizeof(c_netXtremeIIMgmt[0]),
};
