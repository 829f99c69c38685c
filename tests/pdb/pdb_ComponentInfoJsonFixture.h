// A component-type document with one entry of each of the ten parameter types, shared by the decoder tests.
#pragma once

namespace cinfo_fixture {

inline constexpr const char* DOCUMENT = R"({
  "component": {"name": "FixtureComp", "majorVer": 2, "minX": 3, "minY": 2, "maxX": 16, "maxY": 4,
                "commentX": "Channel", "commentY": "Band"},
  "parameters": [
    {"attr": {"recallable": true, "nonvolatile": 0, "syncable": 1, "noeditflag": false, "private": true},
     "strAddress": "/Blk/U8", "type": "UINT8", "patternX": "*2", "patternY": "1", "commentX": "ch", "commentY": "",
     "min": "0", "max": "200", "def": "100", "nominal": "50", "step": "2", "scaling": 3,
     "unit": "dB", "kind": "Level", "defUI": "knob"},
    {"strAddress": "/Blk/U16", "type": "UINT16", "patternX": "/2", "min": "10", "max": "60000", "def": "300",
     "nominal": "10", "step": "5"},
    {"strAddress": "/Blk/U32", "type": "UINT32", "min": "0", "max": "4000000000", "def": "7", "scaling": 2.7},
    {"strAddress": "/Blk/S8", "type": "SINT8", "patternY": "*1", "min": "-100", "max": "100", "def": "-5",
     "nominal": "0", "step": "1"},
    {"strAddress": "/Blk/S16", "type": "SINT16", "min": "-30000", "max": "30000", "def": " 12abc", "nominal": "-1"},
    {"strAddress": "/Blk/S32", "type": "SINT32", "min": "-2147483648", "max": "2147483647", "def": "0",
     "step": "-3"},
    {"strAddress": "/Blk/F", "type": "FLOAT", "min": "-1.5", "max": "2.5e1", "def": "0.25", "nominal": "1",
     "step": "0.1", "unit": "ms"},
    {"strAddress": "/Blk/B", "type": "BOOL", "patternY": "3", "min": "0", "max": "1", "def": "5", "nominal": "1",
     "kind": "OnOff"},
    {"strAddress": "/Blk/Str", "type": "STRING", "max": "32", "def": "hello", "kind": "String"},
    {"strAddress": "/Blk/Bin", "type": "BINARY", "patternX": "4", "min": "abc", "max": "10",
     "attr": {"recallable": 0, "nonvolatile": 1, "syncable": 0, "noeditflag": 0, "private": 1}}
  ]
})";

} // namespace cinfo_fixture
