' conformance script
Dim message
message = "Hello"
WScript.Echo message
