MyAddonDB = {
	["profileKeys"] = {
		["캐릭터 - 서버"] = "Default",
	},
	["n"] = -1.5e-3,
	[1] = [==[long]]]==],
	["s"] = "a\"b\065",
}
OtherDB = nil
