<#
    Says hello to the given name.
#>
Param(
    [Parameter(Mandatory = $true)]
    [string]$Name
)
Write-Output "Hello, $Name"
