-- Wireshark / tshark dissector for the sample frames of the UDP SV2Simulink
-- block: one UDP datagram per host step (and one at run start) holding the
-- block's N input values, all of one data type, little-endian, no header.
--
-- The frame carries neither its type nor its count, so both are preferences
-- (Edit > Preferences > Protocols > UDPSV), like the port (default 1600).
-- Install: copy this file into the personal Lua plugins folder
-- (~/.local/lib/wireshark/plugins/ on Linux, %APPDATA%\Wireshark\plugins on
-- Windows) or load it for one run: tshark -X lua_script:udpsv.lua
--   tshark -r capture.pcapng -X lua_script:udpsv.lua -o udpsv.port:1600 \
--          -o udpsv.type:int32 -o udpsv.count:3 -O udpsv -V

local udpsv = Proto("udpsv", "UDP SV2Simulink sample frame")

-- name, width, how to read one value, how to print it so that it reads back
-- exactly (17 and 9 significant digits round-trip double and single).
local TYPES = {
  [0] = { name = "double", width = 8, read = function(r) return r:le_float() end, fmt = "%.17g" },
  [1] = { name = "single", width = 4, read = function(r) return r:le_float() end, fmt = "%.9g" },
  [2] = { name = "int32", width = 4, read = function(r) return r:le_int() end, fmt = "%d" },
  [3] = { name = "boolean", width = 1, read = function(r) return r:uint() end, fmt = "%d" },
}

udpsv.prefs.port = Pref.uint("UDP port", 1600, "Port the block sends to")
udpsv.prefs.type = Pref.enum("Data type", 0, "The block's data type",
  { { 1, "double", 0 }, { 2, "single", 1 }, { 3, "int32", 2 }, { 4, "boolean", 3 } }, false)
udpsv.prefs.count = Pref.uint("Number of inputs", 0,
  "Values per frame (the block's inputs); 0 accepts any count that fits the type")

local f_double = ProtoField.double("udpsv.double", "Value")
local f_single = ProtoField.float("udpsv.single", "Value")
local f_int32 = ProtoField.int32("udpsv.int32", "Value")
local f_boolean = ProtoField.uint8("udpsv.boolean", "Value")
local f_index = ProtoField.uint16("udpsv.index", "Input")
local f_count = ProtoField.uint16("udpsv.count", "Values")
-- "index=value", exactly as printed in the tree, for filters and tshark -T fields.
local f_text = ProtoField.string("udpsv.value", "Input and value")
local FIELDS = { [0] = f_double, [1] = f_single, [2] = f_int32, [3] = f_boolean }
udpsv.fields = { f_double, f_single, f_int32, f_boolean, f_index, f_count, f_text }

local e_length = ProtoExpert.new("udpsv.length.bad", "Length does not fit the data type",
  expert.group.MALFORMED, expert.severity.ERROR)
local e_count = ProtoExpert.new("udpsv.count.bad", "Number of values differs from the preference",
  expert.group.MALFORMED, expert.severity.ERROR)
local e_boolean = ProtoExpert.new("udpsv.boolean.bad", "Boolean byte other than 0x00 or 0x01",
  expert.group.MALFORMED, expert.severity.WARN)
udpsv.experts = { e_length, e_count, e_boolean }

function udpsv.dissector(buf, pinfo, tree)
  local t = TYPES[udpsv.prefs.type]
  local len = buf:len()
  pinfo.cols.protocol = "UDPSV"
  local root = tree:add(udpsv, buf(), "UDP SV2Simulink frame (" .. t.name .. ")")
  local count = math.floor(len / t.width)
  if len == 0 or len % t.width ~= 0 then
    local text = string.format("%d bytes is not a whole number of %s values (%d bytes each)",
      len, t.name, t.width)
    root:add_proto_expert_info(e_length, text)
    pinfo.cols.info = "Malformed: " .. text
    return len
  end
  root:add(f_count, count):set_generated()
  local expected = udpsv.prefs.count
  if expected > 0 and count ~= expected then
    root:add_proto_expert_info(e_count, string.format(
      "%d bytes = %d x %s, expected %d x %s = %d bytes", len, count, t.name, expected, t.name,
      expected * t.width))
  end
  local shown = {}
  for i = 0, count - 1 do
    local range = buf(i * t.width, t.width)
    local value = t.read(range)
    local text = string.format(t.fmt, value)
    local item = root:add_le(FIELDS[udpsv.prefs.type], range)
    item:set_text(string.format("Input %d: %s", i + 1, text))
    item:add(f_index, i + 1):set_generated()
    item:add(f_text, string.format("%d=%s", i + 1, text)):set_generated()
    if t.name == "boolean" and value > 1 then
      item:add_proto_expert_info(e_boolean, string.format("input %d: 0x%02X", i + 1, value))
    end
    if i < 8 then shown[#shown + 1] = text end
  end
  root:append_text(string.format(", %d values", count))
  pinfo.cols.info = string.format("%d x %s: %s%s", count, t.name, table.concat(shown, " "),
    count > 8 and " ..." or "")
  return len
end

local registered
local function register()
  local udp = DissectorTable.get("udp.port")
  if registered then udp:remove(registered, udpsv) end
  registered = udpsv.prefs.port
  udp:add(registered, udpsv)
end

function udpsv.prefs_changed() register() end
register()
