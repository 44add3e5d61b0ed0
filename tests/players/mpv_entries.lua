-- One line per playlist entry when mpv is done with it: the end reason
-- ("eof" played to the end, "error" failed) and the entry's file name.
local function filename(id)
	for _, entry in ipairs(mp.get_property_native("playlist", {})) do
		if entry.id == id then
			return entry.filename
		end
	end
	return "?"
end

mp.register_event("end-file", function(event)
	io.stdout:write(event.reason .. " " .. filename(event.playlist_entry_id) .. "\n")
	io.stdout:flush()
end)
