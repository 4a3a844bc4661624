#!/bin/lua
--[[ long
comment ]] x = 0x1F --[==[ c ]==]
-- short
y = .5 + 5. + 0x1p4
