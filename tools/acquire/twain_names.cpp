#include "tools/acquire/twain_names.h"

#include <cstdio>

namespace {

struct Named {
    unsigned value;
    const char* name;
};

template <size_t N>
std::string lookup(const Named (&table)[N], unsigned value) {
    for (const Named& entry : table)
        if (entry.value == value)
            return entry.name;
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

const Named groups[] = {{DG_CONTROL, "DG_CONTROL"}, {DG_IMAGE, "DG_IMAGE"}, {DG_AUDIO, "DG_AUDIO"}};

const Named dats[] = {{DAT_NULL, "DAT_NULL"},
                      {DAT_CAPABILITY, "DAT_CAPABILITY"},
                      {DAT_EVENT, "DAT_EVENT"},
                      {DAT_IDENTITY, "DAT_IDENTITY"},
                      {DAT_PARENT, "DAT_PARENT"},
                      {DAT_PENDINGXFERS, "DAT_PENDINGXFERS"},
                      {DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER"},
                      {DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER"},
                      {DAT_STATUS, "DAT_STATUS"},
                      {DAT_USERINTERFACE, "DAT_USERINTERFACE"},
                      {DAT_XFERGROUP, "DAT_XFERGROUP"},
                      {DAT_IMAGEINFO, "DAT_IMAGEINFO"},
                      {DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT"},
                      {DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER"},
                      {DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER"}};

const Named messages[] = {{MSG_NULL, "MSG_NULL"},           {MSG_GET, "MSG_GET"},
                          {MSG_GETCURRENT, "MSG_GETCURRENT"}, {MSG_GETDEFAULT, "MSG_GETDEFAULT"},
                          {MSG_GETFIRST, "MSG_GETFIRST"},     {MSG_GETNEXT, "MSG_GETNEXT"},
                          {MSG_SET, "MSG_SET"},               {MSG_RESET, "MSG_RESET"},
                          {MSG_XFERREADY, "MSG_XFERREADY"},   {MSG_CLOSEDSREQ, "MSG_CLOSEDSREQ"},
                          {MSG_CLOSEDSOK, "MSG_CLOSEDSOK"},   {MSG_OPENDSM, "MSG_OPENDSM"},
                          {MSG_CLOSEDSM, "MSG_CLOSEDSM"},     {MSG_OPENDS, "MSG_OPENDS"},
                          {MSG_CLOSEDS, "MSG_CLOSEDS"},       {MSG_USERSELECT, "MSG_USERSELECT"},
                          {MSG_DISABLEDS, "MSG_DISABLEDS"},   {MSG_ENABLEDS, "MSG_ENABLEDS"},
                          {MSG_PROCESSEVENT, "MSG_PROCESSEVENT"}, {MSG_ENDXFER, "MSG_ENDXFER"}};

const Named returnCodes[] = {{TWRC_SUCCESS, "TWRC_SUCCESS"},     {TWRC_FAILURE, "TWRC_FAILURE"},
                             {TWRC_CHECKSTATUS, "TWRC_CHECKSTATUS"}, {TWRC_CANCEL, "TWRC_CANCEL"},
                             {TWRC_DSEVENT, "TWRC_DSEVENT"},     {TWRC_NOTDSEVENT, "TWRC_NOTDSEVENT"},
                             {TWRC_XFERDONE, "TWRC_XFERDONE"},   {TWRC_ENDOFLIST, "TWRC_ENDOFLIST"}};

const Named conditionCodes[] = {{TWCC_SUCCESS, "TWCC_SUCCESS"},
                                {TWCC_BUMMER, "TWCC_BUMMER"},
                                {TWCC_LOWMEMORY, "TWCC_LOWMEMORY"},
                                {TWCC_NODS, "TWCC_NODS"},
                                {TWCC_MAXCONNECTIONS, "TWCC_MAXCONNECTIONS"},
                                {TWCC_OPERATIONERROR, "TWCC_OPERATIONERROR"},
                                {TWCC_BADCAP, "TWCC_BADCAP"},
                                {TWCC_BADPROTOCOL, "TWCC_BADPROTOCOL"},
                                {TWCC_BADVALUE, "TWCC_BADVALUE"},
                                {TWCC_SEQERROR, "TWCC_SEQERROR"},
                                {TWCC_BADDEST, "TWCC_BADDEST"}};

const Named capabilities[] = {{CAP_XFERCOUNT, "CAP_XFERCOUNT"},         {ICAP_COMPRESSION, "ICAP_COMPRESSION"},
                              {ICAP_PIXELTYPE, "ICAP_PIXELTYPE"},       {ICAP_UNITS, "ICAP_UNITS"},
                              {ICAP_XFERMECH, "ICAP_XFERMECH"},         {CAP_SUPPORTEDCAPS, "CAP_SUPPORTEDCAPS"},
                              {CAP_UICONTROLLABLE, "CAP_UICONTROLLABLE"}, {CAP_DEVICEONLINE, "CAP_DEVICEONLINE"},
                              {ICAP_PHYSICALWIDTH, "ICAP_PHYSICALWIDTH"}, {ICAP_PHYSICALHEIGHT, "ICAP_PHYSICALHEIGHT"},
                              {ICAP_XRESOLUTION, "ICAP_XRESOLUTION"},   {ICAP_YRESOLUTION, "ICAP_YRESOLUTION"},
                              {ICAP_BITORDER, "ICAP_BITORDER"},         {ICAP_PIXELFLAVOR, "ICAP_PIXELFLAVOR"},
                              {ICAP_PLANARCHUNKY, "ICAP_PLANARCHUNKY"}, {ICAP_JPEGPIXELTYPE, "ICAP_JPEGPIXELTYPE"},
                              {ICAP_BITDEPTH, "ICAP_BITDEPTH"}};

}  // namespace

std::string tripletName(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    return lookup(groups, dg) + " / " + lookup(dats, dat) + " / " + lookup(messages, msg);
}
std::string returnCodeName(TW_UINT16 rc) { return lookup(returnCodes, rc); }
std::string conditionCodeName(TW_UINT16 cc) { return lookup(conditionCodes, cc); }
std::string capabilityName(TW_UINT16 cap) { return lookup(capabilities, cap); }

std::string twainText(const char* field, size_t size) {
    std::string text;
    for (size_t i = 0; i < size && field[i]; ++i)
        text += static_cast<unsigned char>(field[i]) < 0x20 ? '?' : field[i];
    return text;
}
