local t = {}
function a.b:c(x, ...)
	for i = 1, #x do if x[i] then break end end
	for k, v in pairs(t) do t[k] = v .. "x" end
	while not done do done = true end
	repeat local y = 1 until y
	return ...
end
f{1}; g"s" h[[s]]
