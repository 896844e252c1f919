# conformance script
param([string]$Name = 'world')
Write-Output "Hello $Name"
