% Receives the sample frames of block 1 "UDP Sorvane2Simulink":
% 1 x double = 8 bytes per frame, sent to 127.0.0.1:1600, one UDP datagram per host
% step and one at run start, little-endian, no header. Prints one line per frame.
% Octave with the instrument-control package (Debian: octave-instrument-control).
pkg load instrument-control

PORT = 1600;
TYPE = "double";   % double | single | int32 | boolean
COUNT = 1;    % values per frame: the block's inputs
WIDTHS = struct("double", 8, "single", 4, "int32", 4, "boolean", 1);
% Formats that read back exactly: 17 and 9 digits for double and single.
FORMATS = struct("double", "%.17g", "single", "%.9g", "int32", "%d", "boolean", "%d");
FRAME_BYTES = COUNT * WIDTHS.(TYPE);

u = udpport("LocalPort", PORT);   % byte mode, every interface
fprintf(2, "listening on port %d for %d x %s (%d bytes)\n", PORT, COUNT, TYPE, FRAME_BYTES);
while true
  n = u.NumBytesAvailable;
  if n == 0
    pause(0.001);
    continue;
  end
  % Octave's udpport reports the next datagram's size here, and one read takes at
  % most one datagram: asking for less drops the rest of it, asking for more would
  % join the next one. So a datagram of another size is read whole and skipped.
  if n ~= FRAME_BYTES
    read(u, n, "uint8");
    fprintf(2, "%d bytes arrived, expected %d (%d x %s); skipped\n", n, FRAME_BYTES, COUNT, TYPE);
    continue;
  end
  bytes = uint8(read(u, FRAME_BYTES, "uint8"));   % exactly one frame
  if numel(bytes) ~= FRAME_BYTES
    fprintf(2, "short read of %d bytes; skipped\n", numel(bytes));
    continue;
  end
  if strcmp(TYPE, "boolean")
    values = double(bytes);   % 0 or 1: read as uint8, as read refuses "logical"
  else
    values = double(typecast(bytes, TYPE));   % little-endian, as on every platform
  end
  line = sprintf([FORMATS.(TYPE) " "], values);
  disp(line(1:end-1));
  fflush(stdout);
end
