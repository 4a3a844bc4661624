MyAddonDB = {
	["profileKeys"] = {
		["a"] = "Def