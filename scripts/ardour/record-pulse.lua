-- Run by ardour7-lua (see scripts/check-in-ardour.sh): a session on the Dummy backend at 48 kHz and
-- 1024 samples per block, a MIDI track with Keyferry Receiver and then ACE Reasonable Synth, an
-- audio track that records the synth, and the transport rolling for SECONDS while PLAYER (a shell
-- command) sends into the receiver.
--   arg: SESSION_DIR SECONDS PLAYER [TEMPO]
local dir, seconds, player, tempo = arg[1], tonumber (arg[2]), arg[3], tonumber (arg[4] or "120")

AudioEngine:set_backend ("None (Dummy)", "", "")
AudioEngine:set_sample_rate (48000)
AudioEngine:set_buffer_size (1024)
local session = create_session (dir, "check", 48000)
assert (session, "no session")
ARDOUR.LuaAPI.usleep (500000) -- let the engine settle: adding tracks at once sometimes meets ports it is still making

local map = Temporal.TempoMap.write_copy ()
map:set_tempo (Temporal.Tempo (tempo, tempo, 4), Temporal.timepos_t (0))
Temporal.TempoMap.update (map)

local midi = ARDOUR.DataType ("midi")
local audio = ARDOUR.DataType ("audio")
local track = session:new_midi_track (ARDOUR.ChanCount (midi, 1), ARDOUR.ChanCount (audio, 2), true, ARDOUR.PluginInfo (),
                                      nil, nil, 1, "Pulse", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal,
                                      true, false):front ()
local synth = ARDOUR.LuaAPI.new_plugin (session, "ACE Reasonable Synth", ARDOUR.PluginType.LV2, "")
assert (not synth:isnil (), "no synth")
track:add_processor_by_index (synth, 0, nil, true)
local receiver = ARDOUR.LuaAPI.new_plugin (session, "Keyferry Receiver", ARDOUR.PluginType.VST3, "")
assert (not receiver:isnil (), "no Keyferry Receiver (scan the bundle first)")
track:add_processor_by_index (receiver, 0, nil, true)

local recorder = session:new_audio_track (2, 2, nil, 1, "Recording", ARDOUR.PresentationInfo.max_order,
                                          ARDOUR.TrackMode.Normal, true):front ()
recorder:input ():disconnect_all (nil)
track:output ():disconnect_all (nil)
for channel = 0, 1 do
	track:output ():audio (channel):connect (recorder:input ():audio (channel):name ())
end
recorder:rec_enable_control ():set_value (1, PBD.GroupControlDisposition.NoGroup)

session:maybe_enable_record (false)
session:request_roll (ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep (500000)
print ("rolling, recording:", session:actively_recording ())
os.execute (player .. " &")
ARDOUR.LuaAPI.usleep (math.floor (seconds * 1000000))
session:request_stop (false, false, ARDOUR.TransportRequestSource.TRS_UI)
ARDOUR.LuaAPI.usleep (1000000)
session:save_state ("", false, false, false, false, false)
close_session ()
